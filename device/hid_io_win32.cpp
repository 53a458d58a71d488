// Win32 back end of CHidIO: SetupAPI discovery, HID attributes, and bounded
// overlapped transfers on the device's read and write handles.
#include "device/hid_io.h"

#include <setupapi.h>
// HidD_GetHidGuid, HidD_GetAttributes and HIDD_ATTRIBUTES; the header has no
// C++ guard of its own.
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstdlib>
#include <cwchar>

#include "device/flash_geometry.h"

static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "HIDD_ATTRIBUTES is 12 bytes");

CHidIO::CHidIO()
    : m_hRead(INVALID_HANDLE_VALUE),
      m_hWrite(INVALID_HANDLE_VALUE),
      m_hReadEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_hWriteEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_hAbortEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_transferBoundMs(DEFAULT_TRANSFER_BOUND_MS),
      m_deviceGone(false),
      m_transfersInFlight(0),
      m_closing(false)
{
}

CHidIO::~CHidIO()
{
    // The process may end on the window thread while a worker's transfer is
    // pending. From here on no transfer touches the handles; the pending one
    // is cancelled with CancelIoEx, which reaches I/O of every thread (CancelIo
    // would cancel only this thread's), and nothing is closed before it has
    // completed and left Transfer(). The cancel is repeated while one is in
    // flight, for a transfer issued just before m_closing was seen.
    m_closing = true;
    const ULONGLONG deadline = GetTickCount64() + m_transferBoundMs + TRANSFER_WAIT_SLICE_MS;
    for (;;) {
        if (m_hRead != INVALID_HANDLE_VALUE) CancelIoEx(m_hRead, nullptr);
        if (m_hWrite != INVALID_HANDLE_VALUE) CancelIoEx(m_hWrite, nullptr);
        if (m_transfersInFlight == 0) break;
        // A transfer that does not complete even when cancelled keeps its
        // handles and events: the system reclaims them with the process,
        // which is better than closing them under a live transfer.
        if (GetTickCount64() >= deadline) return;
        Sleep(1);
    }
    if (m_hRead != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hRead);
        m_hRead = INVALID_HANDLE_VALUE;
    }
    if (m_hWrite != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hWrite);
        m_hWrite = INVALID_HANDLE_VALUE;
    }
    CloseHandle(m_hWriteEvent);
    CloseHandle(m_hReadEvent);
    CloseHandle(m_hAbortEvent);
}

static HANDLE OpenPath(const wchar_t* path, DWORD access, DWORD flags)
{
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
}

// The ids of the interface at `path`, through a probe handle opened with no
// access (which even a device held by others allows).
static bool HasDeviceIds(const wchar_t* path)
{
    HANDLE probe = OpenPath(path, 0, FILE_ATTRIBUTE_NORMAL);
    if (probe == INVALID_HANDLE_VALUE) return false;
    HIDD_ATTRIBUTES attributes;
    attributes.Size = sizeof attributes;
    const BOOLEAN known = HidD_GetAttributes(probe, &attributes);
    CloseHandle(probe);
    return known && attributes.VendorID == DEVICE_VENDOR_ID && attributes.ProductID == DEVICE_PRODUCT_ID;
}

template <typename Found>
void CHidIO::ForEachMatchingPath(Found found)
{
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return;

    wchar_t path[DEVICE_PATH_CHARS];
    SP_DEVICE_INTERFACE_DATA interfaceData;
    interfaceData.cbSize = sizeof interfaceData;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData); ++index) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &needed, nullptr);
        // A size too small to hold the record's header is a failed detail query.
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(needed));
        if (detail == nullptr) break;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, needed, nullptr, nullptr)) {
            std::free(detail);
            continue;
        }
        // The path may use the whole record but no more; one that does not fit
        // the buffer with its terminator is skipped rather than cut short.
        const size_t recordChars = (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
        const size_t length = wcsnlen(detail->DevicePath, recordChars);
        const bool fits = length < recordChars && length < DEVICE_PATH_CHARS;
        if (fits) wmemcpy(path, detail->DevicePath, length + 1);
        std::free(detail);
        if (!fits) continue;

        if (HasDeviceIds(path) && found(path)) break;
    }
    SetupDiDestroyDeviceInfoList(set);
}

// Overlapped, so that a transfer the device never completes can be cancelled
// at the bound instead of holding its thread for good.
// The read handle's input queue is raised at once: a read answer arrives as
// fast as the device sends it, whether or not the program keeps up. Where the
// system refuses, the default queue stays and transfers go on as before.
void CHidIO::OpenHandles(const wchar_t* path)
{
    m_hRead = OpenPath(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED);
    if (m_hRead != INVALID_HANDLE_VALUE) HidD_SetNumInputBuffers(m_hRead, HID_INPUT_BUFFERS);
    m_hWrite = OpenPath(path, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED);
}

int CHidIO::OpenDevice()
{
    m_hRead = INVALID_HANDLE_VALUE;
    m_hWrite = INVALID_HANDLE_VALUE;
    m_deviceGone = false;
    int result = 0;
    // The first match is opened; any other is never looked at.
    ForEachMatchingPath([&](const wchar_t* path) {
        result = 1;
        OpenHandles(path);
        return true;
    });
    return result;
}

int CHidIO::OpenDevicePath(const wchar_t* path)
{
    m_hRead = INVALID_HANDLE_VALUE;
    m_hWrite = INVALID_HANDLE_VALUE;
    m_deviceGone = false;
    if (!HasDeviceIds(path)) return GetLastError() == ERROR_ACCESS_DENIED ? -1 : 0;
    OpenHandles(path);
    if (m_hRead != INVALID_HANDLE_VALUE && m_hWrite != INVALID_HANDLE_VALUE) return 1;
    const DWORD error = GetLastError();
    for (HANDLE* handle : {&m_hRead, &m_hWrite}) {
        if (*handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
        *handle = INVALID_HANDLE_VALUE;
    }
    return error == ERROR_ACCESS_DENIED ? -1 : 0;
}

std::vector<std::wstring> CHidIO::MatchingDevicePaths()
{
    std::vector<std::wstring> paths;
    ForEachMatchingPath([&](const wchar_t* path) {
        paths.emplace_back(path);
        return false;
    });
    return paths;
}

int CHidIO::ReadReport(uint8_t* buffer, uint32_t* count)
{
    return Transfer(m_hRead, m_hReadEvent, buffer, true, count);
}

int CHidIO::WriteReport(const uint8_t* buffer, uint32_t* count)
{
    // WriteFile only reads the buffer; one shared path keeps both directions alike.
    return Transfer(m_hWrite, m_hWriteEvent, const_cast<uint8_t*>(buffer), false, count);
}

int CHidIO::Transfer(HANDLE handle, HANDLE event, uint8_t* buffer, bool reading, uint32_t* count)
{
    if (count != nullptr) *count = 0;
    // Counted before m_closing is read, and the destructor sets m_closing
    // before it reads the count: either the destructor waits for this
    // transfer, or the transfer sees m_closing and touches nothing.
    ++m_transfersInFlight;
    const int result = m_closing ? 0 : IssueAndWait(handle, event, buffer, reading, count);
    --m_transfersInFlight;
    return result;
}

// A failed transfer. One the system itself gave up on at about our bound is
// the same silence as our own bound reached: some HID stacks complete a write
// only when the device takes it, and fail it after their own time-out (5 s
// for Linux's USB HID driver, which Wine's HID stack waits on inside
// WriteFile). The device then counts as gone, so the update ends without
// waiting one bound per command.
int CHidIO::FailedBy(ULONGLONG deadline)
{
    if (GetTickCount64() + TRANSFER_WAIT_SLICE_MS >= deadline) m_deviceGone = true;
    return 0;
}

int CHidIO::IssueAndWait(HANDLE handle, HANDLE event, uint8_t* buffer, bool reading, uint32_t* count)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    HANDLE waitList[2] = {m_hAbortEvent, event};
    if (m_deviceGone) return 0;

    const ULONGLONG deadline = GetTickCount64() + m_transferBoundMs;
    const BOOL issued = reading ? ReadFile(handle, buffer, REPORT_SIZE, nullptr, &overlapped)
                                : WriteFile(handle, buffer, REPORT_SIZE, nullptr, &overlapped);
    if (!issued && GetLastError() != ERROR_IO_PENDING) return FailedBy(deadline);

    // Cancel and complete before returning: the buffer and the OVERLAPPED
    // record must not be in the system's hands once we return.
    auto abandon = [&](DWORD* moved) {
        CancelIo(handle);
        return GetOverlappedResult(handle, &overlapped, moved, TRUE);
    };

    for (;;) {
        const DWORD waited = WaitForMultipleObjects(2, waitList, FALSE, TRANSFER_WAIT_SLICE_MS);
        if (waited == WAIT_OBJECT_0) {
            ResetEvent(m_hAbortEvent);
            DWORD moved = 0;
            abandon(&moved);
            return 0;
        }
        if (waited == WAIT_OBJECT_0 + 1) {
            // Completed, but not necessarily done: the system reports a
            // transfer that failed (a write the device refused, a device
            // gone) through the result, and that is a failed transfer.
            ResetEvent(event);
            DWORD moved = 0;
            if (!GetOverlappedResult(handle, &overlapped, &moved, TRUE)) return FailedBy(deadline);
            if (count != nullptr) *count = moved;
            return 1;
        }
        if (waited == WAIT_TIMEOUT && GetTickCount64() < deadline) continue;

        // Bound reached (or the wait itself failed). A transfer that completed
        // in the meantime still counts; otherwise the device is gone.
        DWORD moved = 0;
        if (abandon(&moved)) {
            ResetEvent(event);
            if (count != nullptr) *count = moved;
            return 1;
        }
        ResetEvent(event);
        m_deviceGone = true;
        return 0;
    }
}
