// De-obfuscation and validation of downloaded packages.
#include "update/package.h"

#include <cstring>

#include "update/result_text.h"

namespace {

constexpr ResultText PACKAGE_RESULT_TEXTS[] = {
    {PACKAGE_OK, "PACKAGE_OK", "the package is accepted"},
    {PACKAGE_NO_BUFFER, "PACKAGE_NO_BUFFER", "there is no buffer, or it cannot hold a 32-byte header"},
    {PACKAGE_BAD_MAGIC, "PACKAGE_BAD_MAGIC", "the file does not begin with \"KOVRELIN\""},
    {PACKAGE_BAD_LENGTH, "PACKAGE_BAD_LENGTH", "the header's total length differs from the bytes received"},
    {PACKAGE_BAD_XOR, "PACKAGE_BAD_XOR", "the XOR check byte does not match the contents"},
    {PACKAGE_BAD_SUM, "PACKAGE_BAD_SUM", "the sum check byte does not match the contents"},
    {PACKAGE_TOO_LARGE, "PACKAGE_TOO_LARGE", "a catalogue longer than 2048 bytes"},
    {PACKAGE_BAD_ID, "PACKAGE_BAD_ID", "the package id differs from the expected id"},
    {PACKAGE_BEYOND_BUFFER, "PACKAGE_BEYOND_BUFFER", "the package claims more bytes than the buffer holds"},
    {PACKAGE_BAD_LAYOUT, "PACKAGE_BAD_LAYOUT",
     "the image header does not fit its body (tail pages above 16, first block after last block, "
     "a block past the flash, or more block data than the package holds)"},
    {PACKAGE_BAD_MODE, "PACKAGE_BAD_MODE", "the mode is neither catalogue (5) nor image (32)"},
};

// The key never sits whole in the program image: four quarters, each stored
// under its own mask, are put together in the caller's local table.
void BuildPackageKey(uint8_t key[PACKAGE_KEY_LENGTH])
{
    static const uint8_t QUARTERS[4][16] = {
        {0x90, 0x7E, 0xF3, 0x1A, 0x61, 0x8B, 0xFD, 0xE1, 0x62, 0x69, 0x38, 0x07, 0x8F, 0x91, 0x71, 0xDA},
        {0x3D, 0xBA, 0x5D, 0xA9, 0xCD, 0xFE, 0x1A, 0xE9, 0x0B, 0x3F, 0xB0, 0x8B, 0x4B, 0xA2, 0x96, 0xF6},
        {0x5E, 0x62, 0xB6, 0xAF, 0x8D, 0x34, 0x38, 0x6B, 0x8F, 0x28, 0xC1, 0xF1, 0xE4, 0xF7, 0x01, 0x37},
        {0xFC, 0x76, 0xCD, 0x2A, 0x51, 0x3D, 0x34, 0x84, 0xA3, 0xF9, 0xF4, 0x4B, 0x3F, 0xAE, 0x17, 0x0E},
    };
    static const uint8_t MASKS[4] = {0x3C, 0xA5, 0x5E, 0xC3};
    for (uint32_t q = 0; q < 4; ++q) {
        for (uint32_t i = 0; i < 16; ++i) key[q * 16 + i] = QUARTERS[q][i] ^ MASKS[q];
    }
}

}  // namespace

const char* PackageResultName(int32_t code)
{
    const ResultText* text = FindResultText(PACKAGE_RESULT_TEXTS, code);
    return text ? text->name : "PACKAGE_UNKNOWN";
}

const char* PackageResultMeaning(int32_t code)
{
    const ResultText* text = FindResultText(PACKAGE_RESULT_TEXTS, code);
    return text ? text->meaning : "not a package check result";
}

uint32_t PackageKeyBase(const char* id)
{
    // Signed or unsigned characters differ by multiples of 256 x 3, which
    // vanish modulo 64, so unsigned is as good as the updater's signed sum.
    uint32_t sum = 0;
    for (int i = 0; i < 4; ++i) sum += static_cast<uint8_t>(id[i]);
    return (3 * sum) % PACKAGE_KEY_LENGTH;
}

void ObfuscatePackageAt(int mode, uint8_t* package, size_t length, uint32_t keyBase)
{
    uint8_t key[PACKAGE_KEY_LENGTH];
    BuildPackageKey(key);
    if (mode == PACKAGE_CATALOGUE) {
        // Each 32-byte row r starts at key position base + 2r and steps by one;
        // row 0 counts the magic's eight positions without touching it.
        for (size_t i = 8; i < length; ++i) {
            const size_t row = i / 32;
            const size_t place = i % 32;
            package[i] ^= key[(keyBase + 2 * row + place) % PACKAGE_KEY_LENGTH];
        }
    } else if (mode == PACKAGE_IMAGE) {
        for (size_t i = 8; i < PACKAGE_HEADER_LENGTH && i < length; ++i) {
            package[i] ^= key[(keyBase + i) % PACKAGE_KEY_LENGTH];
        }
    }
}

void ObfuscatePackage(int mode, uint8_t* package, size_t length, const char* id)
{
    ObfuscatePackageAt(mode, package, length, PackageKeyBase(id));
}

int32_t CheckPackage(int mode, uint8_t* buffer, uint32_t length, const char* id, size_t capacity)
{
    // Every caller's buffer holds at least a header, which is read whatever the
    // length says; a smaller one is no package buffer at all and is refused
    // like a missing one, before anything is read.
    if (buffer == nullptr || capacity < PACKAGE_HEADER_LENGTH) return PACKAGE_NO_BUFFER;
    if (mode != PACKAGE_CATALOGUE && mode != PACKAGE_IMAGE) return PACKAGE_BAD_MODE;

    const uint32_t keyBase = PackageKeyBase(id);
    if (mode == PACKAGE_CATALOGUE) {
        if (length > CATALOGUE_MAX_LENGTH) return PACKAGE_TOO_LARGE;
        // Bytes past the capacity do not exist; such a package cannot pass the
        // buffer guard below, so the tests before it still run in their order.
        const size_t obfuscated = length < capacity ? length : capacity;
        ObfuscatePackageAt(PACKAGE_CATALOGUE, buffer, obfuscated, keyBase);
    } else {
        ObfuscatePackageAt(PACKAGE_IMAGE, buffer, PACKAGE_HEADER_LENGTH, keyBase);
    }

    PackageHeader header;
    std::memcpy(&header, buffer, sizeof header);
    // The updater's id characters are signed, the header's bytes unsigned, so
    // an id character of 0x80 or above never matches; packages rely on that.
    for (int i = 0; i < 4; ++i) {
        if (static_cast<int>(static_cast<signed char>(id[i])) != static_cast<int>(header.packageId[i])) {
            return PACKAGE_BAD_ID;
        }
    }
    for (int i = 0; i < 8; ++i) {
        if (header.magic[i] != static_cast<uint8_t>(PACKAGE_MAGIC[i])) return PACKAGE_BAD_MAGIC;
    }
    const uint32_t totalLength = PackageTotalLength(header);
    if (totalLength != length) return PACKAGE_BAD_LENGTH;

    // Only a length and a header that agree on more than the buffer holds get
    // here, e.g. a failed download (4294967295) checked as an image.
    if (totalLength > capacity) return PACKAGE_BEYOND_BUFFER;

    const PackageChecks checks = ComputePackageChecks(buffer, totalLength);
    if (checks.xorValue != header.xorCheck) return PACKAGE_BAD_XOR;
    if (checks.sumValue != header.sumCheck) return PACKAGE_BAD_SUM;

    // The programmer reads the blocks and the tail straight from the package and
    // the tail goes through a one-block buffer: refuse any header whose data
    // would not be there, before the device is touched.
    if (mode == PACKAGE_IMAGE) {
        if (header.tailPages > PAGES_PER_BLOCK) return PACKAGE_BAD_LAYOUT;
        if (PackageFirstBlock(header) > PackageLastBlock(header)) return PACKAGE_BAD_LAYOUT;
        // Blocks past the end of the flash cannot be written or verified.
        if (PackageLastBlock(header) >= FLASH_BLOCK_COUNT) return PACKAGE_BAD_LAYOUT;
        if (PACKAGE_HEADER_LENGTH + PackageImageDataLength(header) > totalLength) return PACKAGE_BAD_LAYOUT;
    }
    return PACKAGE_OK;
}
