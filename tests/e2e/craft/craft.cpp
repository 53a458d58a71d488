// Test support: packages the publisher tool refuses to make, so that the
// scenarios can serve what a broken or hostile server might.
//   ruvo-craft image ID FIRST LAST TAIL LENGTH OUT
//       image package of LENGTH bytes with exactly this header (the body is a
//       pattern, whatever the header claims)
//   ruvo-craft catalogue MODEL STATUS OUT [NAME SIZE DESCRIPTION]...
//       catalogue package with these records, no limit tested
//   ruvo-craft tamper ID OFFSET FILE
//       flips one bit of the image package FILE at OFFSET (a firmware byte)
//       and fixes its XOR and sum bytes, as an attacker who knows the
//       package key would: the package check still passes
// Numbers are decimal or 0x hex; one that does not fit its field is a usage
// error (exit code 2), never a silently cut value.
#include "update/package_builder.h"

#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/numbers.h"

namespace {

int Usage()
{
    std::fputs(
        "usage: ruvo-craft image ID FIRST LAST TAIL LENGTH OUT\n"
        "       ruvo-craft catalogue MODEL STATUS OUT [NAME SIZE DESCRIPTION]...\n"
        "       ruvo-craft tamper ID OFFSET FILE\n",
        stderr);
    return 2;
}

bool Write(const char* path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// A number field of the command line; `ok` turns false (with a message) on a bad one.
uint32_t Number(const char* what, const char* word, uint32_t max, bool& ok)
{
    uint64_t value = 0;
    if (ParseNumber(word, max, value)) return static_cast<uint32_t>(value);
    std::fprintf(stderr, "ruvo-craft: %s must be a number from 0 to %lu: %s\n", what, static_cast<unsigned long>(max),
                 word);
    ok = false;
    return 0;
}

// Each byte of a description becomes the code unit of its value (U+0000 to
// U+00FF), as record names widen into the option lines, so a crafted record
// can carry C1 controls; a signed char would widen 0x9B to U+FF9B.
std::u16string Widen(const std::string& text)
{
    std::u16string wide;
    for (const unsigned char c : text) wide += static_cast<char16_t>(c);
    return wide;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    const std::string kind = argv[1];
    std::vector<uint8_t> package;
    const char* out = nullptr;
    bool ok = true;

    if (kind == "image" && argc == 8) {
        const uint16_t first = static_cast<uint16_t>(Number("FIRST", argv[3], 0xFFFF, ok));
        const uint16_t last = static_cast<uint16_t>(Number("LAST", argv[4], 0xFFFF, ok));
        const uint8_t tail = static_cast<uint8_t>(Number("TAIL", argv[5], 0xFF, ok));
        const uint32_t length = Number("LENGTH", argv[6], UINT32_MAX, ok);
        if (!ok || length < PACKAGE_HEADER_LENGTH) return Usage();
        package.resize(length);
        for (size_t i = PACKAGE_HEADER_LENGTH; i < length; ++i) package[i] = static_cast<uint8_t>(i * 31);
        auto* header = reinterpret_cast<PackageHeader*>(package.data());
        WriteBigEndian16(header->firstBlock, first);
        WriteBigEndian16(header->lastBlock, last);
        header->tailPages = tail;
        SealPackage(PACKAGE_IMAGE, package, argv[2]);
        out = argv[7];
    } else if (kind == "catalogue" && argc >= 5 && (argc - 5) % 3 == 0) {
        package.resize(PACKAGE_HEADER_LENGTH);
        reinterpret_cast<PackageHeader*>(package.data())->status =
            static_cast<uint8_t>(Number("STATUS", argv[3], 0xFF, ok));
        std::vector<uint8_t> body;
        for (int i = 5; i < argc && ok; i += 3)
            AppendCatalogueRecord(body, argv[i], Number("SIZE", argv[i + 1], UINT32_MAX, ok), Widen(argv[i + 2]));
        if (!ok) return Usage();
        body.push_back(0);  // end of the record list
        package.insert(package.end(), body.begin(), body.end());
        SealPackage(PACKAGE_CATALOGUE, package, argv[2]);
        out = argv[4];
    } else if (kind == "tamper" && argc == 5) {
        out = argv[4];
        FILE* file = std::fopen(out, "rb");
        if (!file) return Usage();
        for (int c; (c = std::fgetc(file)) != EOF;) package.push_back(static_cast<uint8_t>(c));
        std::fclose(file);
        const uint32_t offset = Number("OFFSET", argv[3], UINT32_MAX, ok);
        if (!ok || package.size() < PACKAGE_HEADER_LENGTH || offset < PACKAGE_HEADER_LENGTH ||
            offset >= package.size()) {
            return Usage();
        }
        ObfuscatePackage(PACKAGE_IMAGE, package.data(), package.size(), argv[2]);  // reveals the header
        package[offset] ^= 0x01;
        SetPackageChecks(package.data(), package.size());
        ObfuscatePackage(PACKAGE_IMAGE, package.data(), package.size(), argv[2]);
        std::vector<uint8_t> check(package);
        check.resize(package.size() + 128);
        const int32_t code =
            CheckPackage(PACKAGE_IMAGE, check.data(), static_cast<uint32_t>(package.size()), argv[2], check.size());
        if (code != PACKAGE_OK) {
            std::fprintf(stderr, "ruvo-craft: the tampered package fails the check (%d)\n", code);
            return 1;
        }
    } else {
        return Usage();
    }

    if (!Write(out, package)) {
        std::fprintf(stderr, "ruvo-craft: cannot write %s\n", out);
        return 4;
    }
    return 0;
}
