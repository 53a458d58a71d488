#include "fake_config.h"

const GUID FAKE_HID_INTERFACE_GUID = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

static int HexDigit(WCHAR c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

/* Exactly four hex digits. */
static BOOL ParseId(const WCHAR* text, USHORT* id)
{
    unsigned value = 0;
    int i;
    for (i = 0; i < 4; ++i) {
        int digit = HexDigit(text[i]);
        if (digit < 0) return FALSE;
        value = value << 4 | (unsigned)digit;
    }
    *id = (USHORT)value;
    return TRUE;
}

/* One entry: PATH=VVVV:PPPP (the last '=' separates the ids). */
static void AddEntry(FakeDeviceList* list, const WCHAR* entry, size_t length)
{
    size_t equals = length, i;
    FakeDevice* device;
    for (i = 0; i < length; ++i)
        if (entry[i] == L'=') equals = i;
    if (equals == length || equals == 0 || equals >= FAKE_MAX_PATH) return;
    if (length - equals - 1 != 9 || entry[equals + 5] != L':') return;
    if (list->count >= FAKE_MAX_DEVICES) return;
    device = &list->devices[list->count];
    if (!ParseId(entry + equals + 1, &device->vendorId) || !ParseId(entry + equals + 6, &device->productId)) return;
    CopyMemory(device->path, entry, equals * sizeof(WCHAR));
    device->path[equals] = 0;
    list->count++;
}

void FakeReadDeviceList(FakeDeviceList* list)
{
    const DWORD capacity = FAKE_MAX_DEVICES * (FAKE_MAX_PATH + 16);
    WCHAR* value = (WCHAR*)HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(WCHAR));
    DWORD length;
    size_t start = 0, i;
    list->count = 0;
    if (value == NULL) return;
    length = GetEnvironmentVariableW(L"RUVO_FAKE_HID_DEVICES", value, capacity);
    if (length < capacity) {
        for (i = 0; i <= length && length > 0; ++i) {
            if (i == length || value[i] == L';') {
                if (i > start) AddEntry(list, value + start, i - start);
                start = i + 1;
            }
        }
    }
    HeapFree(GetProcessHeap(), 0, value);
}

const WCHAR* FakePipeTail(const WCHAR* path)
{
    static const WCHAR prefix[] = L"\\\\.\\pipe";
    size_t i;
    for (i = 0; prefix[i] != 0; ++i) {
        WCHAR c = path[i];
        if (c >= L'A' && c <= L'Z') c = (WCHAR)(c - L'A' + L'a');
        if (c != prefix[i]) return NULL;
    }
    return path[i] == L'\\' ? path + i : NULL;
}
