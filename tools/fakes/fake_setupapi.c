/* Test-only setupapi.dll: enumerates the configured device paths as the
   interfaces of the HID class, with the real DLL's buffer-size protocol. */
#define _SETUPAPI_
#include <windows.h>
#include <setupapi.h>

#include <stddef.h>

#include "fake_config.h"

#define FAKE_SET_MAGIC 0x52555653u /* "RUVS" */

typedef struct FakeSet {
    DWORD magic;
    FakeDeviceList list;
} FakeSet;

static FakeSet* SetOf(HDEVINFO handle)
{
    FakeSet* set = (FakeSet*)handle;
    return set != NULL && handle != INVALID_HANDLE_VALUE && set->magic == FAKE_SET_MAGIC ? set : NULL;
}

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags)
{
    FakeSet* set = (FakeSet*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(FakeSet));
    (void)enumerator;
    (void)parent;
    if (set == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    set->magic = FAKE_SET_MAGIC;
    /* Only the HID interface class, asked for as interfaces, holds devices. */
    if (classGuid != NULL && IsEqualGUID(classGuid, &FAKE_HID_INTERFACE_GUID) && (flags & DIGCF_DEVICEINTERFACE))
        FakeReadDeviceList(&set->list);
    return (HDEVINFO)set;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA deviceInfo, const GUID* interfaceGuid,
                                        DWORD index, PSP_DEVICE_INTERFACE_DATA data)
{
    FakeSet* set = SetOf(handle);
    (void)deviceInfo;
    if (set == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (data == NULL || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (interfaceGuid == NULL || !IsEqualGUID(interfaceGuid, &FAKE_HID_INTERFACE_GUID) || index >= set->list.count) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = FAKE_HID_INTERFACE_GUID;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = (ULONG_PTR)index + 1;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                             PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo)
{
    FakeSet* set = SetOf(handle);
    const FakeDevice* device;
    DWORD needed;
    (void)deviceInfo;
    if (set == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (data == NULL || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > set->list.count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    device = &set->list.devices[data->Reserved - 1];
    needed =
        (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (lstrlenW(device->path) + 1) * sizeof(WCHAR));
    if (requiredSize != NULL) *requiredSize = needed;
    if (detail == NULL) {
        SetLastError(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    CopyMemory(detail->DevicePath, device->path, (lstrlenW(device->path) + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle)
{
    FakeSet* set = SetOf(handle);
    if (set == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    set->magic = 0;
    HeapFree(GetProcessHeap(), 0, set);
    return TRUE;
}
