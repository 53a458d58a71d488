#pragma once
// The device information record: the first DEVICE_INFO_SIZE (16) bytes of
// flash page DEVICE_INFO_PAGE (8175), both defined with the flash geometry.
#include <cstdint>

#include "device/flash_geometry.h"

constexpr uint8_t MAX_UPDATER_LEVEL = 2;  // generations this updater serves

struct DeviceInfo {
    int32_t deviceVersion;        // byte 0, zero-extended
    char versionText[5];          // low digit of byte 0, then one digit each for bytes 1-3
    char deviceSecondVersion[4];  // bytes 4-6
    uint8_t updaterLevel;         // byte 7
    char modelId[5];              // bytes 12-15: catalogue file name and its package id
};

// Digit shown for one version value: 0-9, then A-F; 16 and above show '0'.
char VersionDigit(uint8_t value);

// Decodes the DEVICE_INFO_SIZE-byte record at `record`.
DeviceInfo DecodeDeviceInfo(const uint8_t* record);

// The publisher's rule for a model or package id: exactly 4 characters from
// A-Z a-z 0-9 . _ -, a NUL-terminated `id`. A model id goes into URLs, so
// ruvo-flash sends none that breaks it; the window keeps its own rules.
bool FollowsIdRule(const char* id);
