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
#include "update/package_builder.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// ASCII descriptions are enough for crafted records.
std::u16string Widen(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    const std::string kind = argv[1];
    std::vector<uint8_t> package;
    const char* out = nullptr;

    if (kind == "image" && argc == 8) {
        const unsigned long length = std::strtoul(argv[6], nullptr, 0);
        if (length < PACKAGE_HEADER_LENGTH) return Usage();
        package.resize(length);
        for (size_t i = PACKAGE_HEADER_LENGTH; i < length; ++i) package[i] = static_cast<uint8_t>(i * 31);
        auto* header = reinterpret_cast<PackageHeader*>(package.data());
        WriteBigEndian16(header->firstBlock, static_cast<uint16_t>(std::strtoul(argv[3], nullptr, 0)));
        WriteBigEndian16(header->lastBlock, static_cast<uint16_t>(std::strtoul(argv[4], nullptr, 0)));
        header->tailPages = static_cast<uint8_t>(std::strtoul(argv[5], nullptr, 0));
        SealPackage(PACKAGE_IMAGE, package, argv[2]);
        out = argv[7];
    } else if (kind == "catalogue" && argc >= 5 && (argc - 5) % 3 == 0) {
        package.resize(PACKAGE_HEADER_LENGTH);
        reinterpret_cast<PackageHeader*>(package.data())->status =
            static_cast<uint8_t>(std::strtoul(argv[3], nullptr, 0));
        std::vector<uint8_t> body;
        for (int i = 5; i < argc; i += 3)
            AppendCatalogueRecord(body, argv[i], std::strtoul(argv[i + 1], nullptr, 0), Widen(argv[i + 2]));
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
        const unsigned long offset = std::strtoul(argv[3], nullptr, 0);
        if (package.size() < PACKAGE_HEADER_LENGTH || offset < PACKAGE_HEADER_LENGTH || offset >= package.size()) {
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
