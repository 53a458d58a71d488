#include "cli/version_text.h"

#include <cstdio>

std::string KeyIdText(const uint8_t (&keyId)[RELEASE_KEY_ID_LENGTH])
{
    std::string text;
    char digits[3];
    for (uint8_t byte : keyId) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

std::string VersionText(const char* version, const char* baseUrl, const ReleaseKey* keys, size_t keyCount,
                        int threshold)
{
    std::string text = std::string("ruvo-flash ") + version + "\nupdate server: " + baseUrl + "\nrelease keys:";
    if (keyCount == 0) return text + " none (releases are not signed; --key checks one)\n";
    for (size_t i = 0; i < keyCount; ++i) text += " " + KeyIdText(keys[i].keyId);
    if (threshold <= 1) return text + " (only releases signed by one of them are flashed)\n";
    return text + " (only releases signed by " + std::to_string(threshold) + " of them are flashed)\n";
}
