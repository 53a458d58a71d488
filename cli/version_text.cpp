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

namespace {

// The loopback servers of the tests and the demo (the default base URL).
bool IsLoopback(const std::string& baseUrl)
{
    const size_t scheme = baseUrl.find("://");
    if (scheme == std::string::npos) return false;
    const std::string host = baseUrl.substr(scheme + 3, baseUrl.find_first_of(":/", scheme + 3) - scheme - 3);
    return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

}  // namespace

std::string VersionText(const char* version, const char* revision, const char* baseUrl, const ReleaseKey* keys,
                        size_t keyCount, int threshold)
{
    std::string text = std::string("ruvo-flash ") + version + " (revision " + revision + ")\nupdate server: " +
                       baseUrl;
    if (IsLoopback(baseUrl)) text += " (a loopback test server: this build is not for release)";
    text += "\nrelease keys:";
    if (keyCount == 0) return text + " none (releases are not signed; --key checks one)\n";
    for (size_t i = 0; i < keyCount; ++i) text += " " + KeyIdText(keys[i].keyId);
    if (threshold <= 1) return text + " (only releases signed by one of them are flashed)\n";
    return text + " (only releases signed by " + std::to_string(threshold) + " of them are flashed)\n";
}
