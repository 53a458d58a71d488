// A process that ends on its main thread while a worker's read waits on a
// silent device, as RUVO.exe does when the window closes during
// identification. The device is found through the test-only DLLs
// (RUVO_FAKE_HID_DEVICES); the transfer bound in milliseconds is the one
// argument. What the transport does is recorded on standard output.
#include "device/hid_cmd.h"
#include "transport_recorder.h"

#include <cstdlib>

static DWORD WINAPI ReadInformationPage(LPVOID)
{
    MarkWorkerThread();
    static uint8_t page[FLASH_PAGE_SIZE];
    ReadPages(DEVICE_INFO_PAGE, 1, page);
    Sleep(INFINITE);  // a worker carries on until the process ends
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 2 || !InstallTransportRecorder()) return 2;
    if (!Connect()) return 3;
    g_hidCmd.m_io.SetTransferBound(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
    HANDLE worker = CreateThread(nullptr, 0, ReadInformationPage, nullptr, 0, nullptr);
    if (worker == nullptr || WaitForSingleObject(ReadPendingEvent(), 10000) != WAIT_OBJECT_0) return 4;
    Record("main returns");
    return 0;  // exit() destroys g_hidCmd on this thread, the read still pending
}
