/* Test-only hid.dll: the HID class GUID, attributes for a handle that is
   open on one of the configured pipe paths, and the input buffer count,
   accepted within the system's range (a pipe has no such queue). */
#include <windows.h>
#include <winternl.h>
#include <hidsdi.h>

#include "fake_config.h"

void WINAPI HidD_GetHidGuid(LPGUID guid)
{
    *guid = FAKE_HID_INTERFACE_GUID;
}

typedef NTSTATUS(NTAPI* QueryObjectFunction)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);

/* The pipe's name relative to the pipe file system, e.g. "\ruvo-sim-1".
   GetFinalPathNameByHandleW fails on pipes under Wine; the file name
   information works, and the object name is the fallback. */
static BOOL PipeNameOf(HANDLE handle, WCHAR* name, size_t capacity)
{
    static const WCHAR device[] = L"\\Device\\NamedPipe";
    union {
        FILE_NAME_INFO info;
        BYTE bytes[sizeof(FILE_NAME_INFO) + FAKE_MAX_PATH * sizeof(WCHAR)];
    } buffer;
    const WCHAR* text = NULL;
    size_t chars = 0;
    if (GetFileInformationByHandleEx(handle, FileNameInfo, &buffer, sizeof buffer)) {
        text = buffer.info.FileName;
        chars = buffer.info.FileNameLength / sizeof(WCHAR);
    } else {
        QueryObjectFunction query =
            (QueryObjectFunction)(void (*)(void))GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject");
        ULONG used = 0;
        if (query == NULL ||
            query(handle, (OBJECT_INFORMATION_CLASS)1 /* ObjectNameInformation */, &buffer, sizeof buffer, &used) < 0)
            return FALSE;
        text = ((UNICODE_STRING*)&buffer)->Buffer;
        chars = ((UNICODE_STRING*)&buffer)->Length / sizeof(WCHAR);
        if (chars >= 17 && CompareStringOrdinal(text, 17, device, 17, TRUE) == CSTR_EQUAL) {
            text += 17;
            chars -= 17;
        }
    }
    if (chars + 1 > capacity) return FALSE;
    CopyMemory(name, text, chars * sizeof(WCHAR));
    name[chars] = 0;
    return TRUE;
}

BOOLEAN WINAPI HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes)
{
    WCHAR name[FAKE_MAX_PATH];
    FakeDeviceList* list;
    BOOLEAN found = FALSE;
    DWORD i;
    if (attributes == NULL || !PipeNameOf(handle, name, FAKE_MAX_PATH)) return FALSE;
    list = (FakeDeviceList*)HeapAlloc(GetProcessHeap(), 0, sizeof(FakeDeviceList));
    if (list == NULL) return FALSE;
    FakeReadDeviceList(list);
    for (i = 0; i < list->count && !found; ++i) {
        const WCHAR* tail = FakePipeTail(list->devices[i].path);
        if (tail != NULL && CompareStringOrdinal(tail, -1, name, -1, TRUE) == CSTR_EQUAL) {
            attributes->Size = sizeof(HIDD_ATTRIBUTES);
            attributes->VendorID = list->devices[i].vendorId;
            attributes->ProductID = list->devices[i].productId;
            attributes->VersionNumber = 0x0100;
            found = TRUE;
        }
    }
    HeapFree(GetProcessHeap(), 0, list);
    return found;
}

BOOLEAN WINAPI HidD_SetNumInputBuffers(HANDLE handle, ULONG count)
{
    return handle != NULL && handle != INVALID_HANDLE_VALUE && count >= 2 && count <= 512;
}
