#include "update/update_threads.h"

DWORD WINAPI UpdateThread(LPVOID)
{
    return 1;
}
