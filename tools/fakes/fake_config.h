/* What the test-only hid.dll and setupapi.dll share: the HID interface class
   and the device list, read from RUVO_FAKE_HID_DEVICES at each use (see
   README.md). Test-only: the program itself reads no environment. */
#ifndef RUVO_FAKE_CONFIG_H
#define RUVO_FAKE_CONFIG_H

#include <windows.h>

#define FAKE_MAX_DEVICES 16
#define FAKE_MAX_PATH 1024 /* longer than the program's 260, to test that limit */

/* The class HidD_GetHidGuid reports and SetupDiGetClassDevsW enumerates. */
extern const GUID FAKE_HID_INTERFACE_GUID;

typedef struct FakeDevice {
    WCHAR path[FAKE_MAX_PATH];
    USHORT vendorId;
    USHORT productId;
} FakeDevice;

typedef struct FakeDeviceList {
    DWORD count;
    FakeDevice devices[FAKE_MAX_DEVICES];
} FakeDeviceList;

/* Fills `list` from the variable; malformed entries are left out. An unset
   or empty variable gives an empty list. */
void FakeReadDeviceList(FakeDeviceList* list);

/* The part of a device path after "\\.\pipe", e.g. "\ruvo-sim-1", or NULL. */
const WCHAR* FakePipeTail(const WCHAR* path);

#endif
