// Decoding of the device information record, and the rule its model id is
// held to before it names a file on the server.
#include "update/device_info.h"

char VersionDigit(uint8_t value)
{
    if (value < 10) return static_cast<char>('0' + value);
    if (value < 16) return static_cast<char>('A' + value - 10);
    return '0';  // one digit per value, no wrapping
}

DeviceInfo DecodeDeviceInfo(const uint8_t* record)
{
    DeviceInfo info{};
    info.deviceVersion = record[0];
    // The high half of byte 0 is not shown: the text starts with its low digit.
    info.versionText[0] = VersionDigit(record[0] & 0x0F);
    for (int i = 1; i <= 3; ++i) info.versionText[i] = VersionDigit(record[i]);
    info.versionText[4] = '\0';
    for (int i = 0; i < 3; ++i) info.deviceSecondVersion[i] = static_cast<char>(record[4 + i]);
    info.deviceSecondVersion[3] = '\0';
    info.updaterLevel = record[7];
    for (int i = 0; i < 4; ++i) info.modelId[i] = static_cast<char>(record[12 + i]);
    info.modelId[4] = '\0';
    return info;
}

bool FollowsIdRule(const char* id)
{
    for (int i = 0; i < 4; ++i) {
        const char c = id[i];
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                          c == '_' || c == '-';
        if (!safe) return false;  // a NUL too: the id is shorter than 4
    }
    return id[4] == '\0';
}
