#include "update/release_history.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "common/bytes.h"

bool HistoryName(const char* modelId, const ReleaseKey* keys, size_t keyCount, char (&name)[HISTORY_NAME_SIZE])
{
    // Key ids read as big-endian numbers sort as their bytes do.
    constexpr size_t MAX_KEYS = 16;
    static_assert(RELEASE_KEY_ID_LENGTH == sizeof(uint64_t), "a key id is 64 bits");
    if (keyCount > MAX_KEYS) return false;
    uint64_t ids[MAX_KEYS];
    for (size_t i = 0; i < keyCount; ++i) ids[i] = ReadBigEndian64(keys[i].keyId);
    std::sort(ids, ids + keyCount);
    uint8_t sorted[MAX_KEYS * RELEASE_KEY_ID_LENGTH];
    for (size_t i = 0; i < keyCount; ++i) WriteBigEndian64(sorted + i * RELEASE_KEY_ID_LENGTH, ids[i]);
    uint8_t digest[SHA256_LENGTH];
    if (!Sha256(sorted, keyCount * RELEASE_KEY_ID_LENGTH, digest)) return false;
    int written = std::snprintf(name, sizeof name, "%.4s.", modelId);
    for (size_t i = 0; i < 8; ++i) written += std::snprintf(name + written, sizeof name - written, "%02x", digest[i]);
    return written == HISTORY_NAME_SIZE - 1;
}

size_t FormatAcceptedRelease(const AcceptedRelease& release, char (&text)[HISTORY_TEXT_SIZE])
{
    int written = std::snprintf(text, sizeof text, "%" PRIu64 " ", release.serial);
    for (uint8_t byte : release.signedSha256)
        written += std::snprintf(text + written, sizeof text - written, "%02x", byte);
    written += std::snprintf(text + written, sizeof text - written, "\n");
    return static_cast<size_t>(written);
}

bool ParseAcceptedRelease(const char* text, size_t length, AcceptedRelease* release)
{
    *release = AcceptedRelease{};
    size_t at = 0;
    uint64_t serial = 0;
    // Decimal digits, no sign, no leading zero, within 64 bits.
    while (at < length && text[at] >= '0' && text[at] <= '9') {
        const uint64_t digit = static_cast<uint64_t>(text[at] - '0');
        if (serial > (UINT64_MAX - digit) / 10 || (at == 1 && text[0] == '0')) return false;
        serial = serial * 10 + digit;
        ++at;
    }
    if (at == 0 || at >= length || text[at++] != ' ') return false;
    for (uint8_t& byte : release->signedSha256) {
        if (at + 2 > length) return false;
        const int high = HexDigit(text[at]), low = HexDigit(text[at + 1]);
        if (high < 0 || low < 0) return false;
        byte = static_cast<uint8_t>(high * 16 + low);
        at += 2;
    }
    if (at < length && text[at] == '\n') ++at;
    if (at != length) return false;
    release->serial = serial;
    return true;
}

int32_t CompareWithHistory(const AcceptedRelease& stored, const AcceptedRelease& offered)
{
    if (offered.serial > stored.serial) return STATEMENT_OK;
    if (offered.serial == stored.serial &&
        std::memcmp(offered.signedSha256, stored.signedSha256, SHA256_LENGTH) == 0)
        return STATEMENT_OK;
    return STATEMENT_SUPERSEDED;
}
