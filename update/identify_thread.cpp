#include "update/update_threads.h"

DWORD WINAPI IdentifyThread(LPVOID)
{
    return 0;
}
