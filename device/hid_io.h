#pragma once
// CHidIO: finds the device among the HID interfaces and moves one 65-byte
// report per call. The Win32 back end is hid_io_win32.cpp; the simulator and
// the test-only hid/setupapi DLLs stand in for the device behind the same calls.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_ids.h"

// Wide characters in the device path buffer, terminator included. A longer
// path is skipped during discovery: a cut path would open another object.
constexpr size_t DEVICE_PATH_CHARS = 260;

// Input reports the system keeps for the read handle. Its default (32) is
// half of one 16-page read answer: a host busy for 32 ms would lose reports.
// 512 is the most Windows accepts.
constexpr ULONG HID_INPUT_BUFFERS = 512;

// Each transfer waits in slices of 100 ms (watching the abort event) until it
// completes or this bound has passed. Seconds, not milliseconds: a write may
// have to wait out a block erase, a read the programming of 16 pages.
constexpr DWORD TRANSFER_WAIT_SLICE_MS = 100;
constexpr DWORD DEFAULT_TRANSFER_BOUND_MS = 5000;

class CHidIO {
public:
    CHidIO();
    // Runs on whichever thread ends the process, possibly while a worker's
    // transfer is pending: it cancels that transfer and waits for it to
    // complete before closing anything it uses.
    virtual ~CHidIO();
    CHidIO(const CHidIO&) = delete;
    CHidIO& operator=(const CHidIO&) = delete;

    // 1 as soon as an interface with DEVICE_VENDOR_ID/DEVICE_PRODUCT_ID is found
    // (its read and write handles then opened), 0 otherwise. Called only while
    // no device is open.
    int OpenDevice();

    // Opens the device at `path` (a path from MatchingDevicePaths), after
    // checking its ids: 1 when open, 0 when there is no matching device at the
    // path, -1 when the system denies access. Called only while no device is open.
    int OpenDevicePath(const wchar_t* path);

    // Paths of every interface with the device's ids, in enumeration order.
    static std::vector<std::wstring> MatchingDevicePaths();

    // One report of REPORT_SIZE bytes each; `count` (optional) receives the
    // bytes moved, 0 on failure. 1 on success, 0 on failure.
    int ReadReport(uint8_t* buffer, uint32_t* count);
    int WriteReport(const uint8_t* buffer, uint32_t* count);

    // True once a transfer was abandoned at the bound: the device counts as gone
    // and every later transfer fails at once.
    bool DeviceGone() const { return m_deviceGone; }

    // Test seams; the program itself never calls them.
    void SetTransferBound(DWORD milliseconds) { m_transferBoundMs = milliseconds; }
    void SignalAbort() { SetEvent(m_hAbortEvent); }

private:
    // Calls `found` with each matching interface's path until it returns true.
    template <typename Found>
    static void ForEachMatchingPath(Found found);
    void OpenHandles(const wchar_t* path);
    int Transfer(HANDLE handle, HANDLE event, uint8_t* buffer, bool reading, uint32_t* count);
    int IssueAndWait(HANDLE handle, HANDLE event, uint8_t* buffer, bool reading, uint32_t* count);
    int FailedBy(ULONGLONG deadline);

    HANDLE m_hRead;
    HANDLE m_hWrite;
    HANDLE m_hReadEvent;
    HANDLE m_hWriteEvent;
    HANDLE m_hAbortEvent;
    DWORD m_transferBoundMs;
    bool m_deviceGone;
    // Transfers inside Transfer() right now, and whether the destructor has
    // begun; from then on no transfer touches the handles or the events.
    std::atomic<int> m_transfersInFlight;
    std::atomic<bool> m_closing;
};
