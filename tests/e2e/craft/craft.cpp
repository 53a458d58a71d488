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
//   ruvo-craft statement FORMAT SERIAL EXPIRES MODEL DOOR POOL KEY.pem...
//       signs DOOR/MODEL.Bin and the images it names in POOL into
//       DOOR/MODEL.Sig (format 1, one key) or DOOR/MODEL.Sig2 (format 2),
//       one signature per KEY in order, a key repeated as often as given;
//       EXPIRES in seconds from now (negative: already expired) or "never".
//       What a publisher who holds the keys could sign, but the publisher
//       tool will not: repeated keys, expired statements, any serial
// Numbers are decimal or 0x hex; one that does not fit its field is a usage
// error (exit code 2), never a silently cut value.
#include "update/package_builder.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tools/common/numbers.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/package_reader.h"
#include "tools/ruvo-pack/signing.h"

namespace {

int Usage()
{
    std::fputs(
        "usage: ruvo-craft image ID FIRST LAST TAIL LENGTH OUT\n"
        "       ruvo-craft catalogue MODEL STATUS OUT [NAME SIZE DESCRIPTION]...\n"
        "       ruvo-craft tamper ID OFFSET FILE\n"
        "       ruvo-craft statement FORMAT SERIAL EXPIRES MODEL DOOR POOL KEY.pem...\n",
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

// The statement of the release in DOOR and POOL, signed by each key given.
int CraftStatement(int argc, char** argv)
{
    bool ok = true;
    ReleaseStatement statement{};
    statement.format = static_cast<uint8_t>(Number("FORMAT", argv[2], 2, ok));
    statement.serial = Number("SERIAL", argv[3], UINT32_MAX, ok);
    const std::string expires = argv[4], model = argv[5], door = argv[6], pool = argv[7];
    statement.expires = expires == "never" ? STATEMENT_NEVER_EXPIRES
                                           : static_cast<uint64_t>(std::time(nullptr) + std::stoll(expires));
    statement.signatureCount = argc - 8;
    if (!ok || model.size() != 4 || statement.signatureCount < 1 ||
        statement.signatureCount > STATEMENT_MAX_SIGNATURES)
        return Usage();

    std::vector<uint8_t> catalogue;
    CatalogueWalk walk;
    std::string why;
    if (!ReadWholeFile(door + "/" + model + ".Bin", CATALOGUE_MAX_LENGTH, &catalogue, &why) ||
        !ReadStoredCatalogue(catalogue, model, &walk, &why)) {
        std::fprintf(stderr, "ruvo-craft: %s/%s.Bin %s\n", door.c_str(), model.c_str(), why.c_str());
        return 1;
    }
    std::memcpy(statement.modelId, model.data(), 4);
    statement.catalogueLength = uint32_t(catalogue.size());
    Sha256(catalogue.data(), catalogue.size(), statement.catalogueSha256);
    statement.recordCount = walk.count;
    for (int32_t i = 0; i < walk.count; ++i) {
        std::vector<uint8_t> image;
        if (!ReadWholeFile(pool + "/" + walk.entries[i].name, IMAGE_PACKAGE_FILE_MAX, &image, &why)) {
            std::fprintf(stderr, "ruvo-craft: %s\n", why.c_str());
            return 1;
        }
        std::snprintf(statement.records[i].name, STATEMENT_NAME_FIELD, "%s", walk.entries[i].name);
        statement.records[i].size = uint32_t(image.size());
        Sha256(image.data(), image.size(), statement.records[i].sha256);
    }
    uint8_t body[STATEMENT_MAX_LENGTH];
    for (int32_t k = 0; k < statement.signatureCount; ++k) {
        uint8_t point[P256_POINT_LENGTH];
        std::string error;
        if (!LoadSigningKey(argv[8 + k], point, &error) || !ReleaseKeyId(point, statement.signatures[k].keyId)) {
            std::fprintf(stderr, "ruvo-craft: %s\n", error.c_str());
            return 1;
        }
    }
    const size_t length = WriteStatementBody(statement, body);
    for (int32_t k = 0; k < statement.signatureCount && length != 0; ++k) {
        uint8_t point[P256_POINT_LENGTH];
        std::string error;
        if (!SignBody(argv[8 + k], body, length, statement.signatures[k].signature, point, &error)) {
            std::fprintf(stderr, "ruvo-craft: %s\n", error.c_str());
            return 1;
        }
    }
    const size_t whole = WriteStatementSignatures(statement, length, body);
    const std::string out = door + "/" + model + (statement.format == STATEMENT_FORMAT_1 ? ".Sig" : ".Sig2");
    if (whole == 0 || !Write(out.c_str(), std::vector<uint8_t>(body, body + whole))) {
        std::fprintf(stderr, "ruvo-craft: cannot write %s\n", out.c_str());
        return 4;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    const std::string kind = argv[1];
    if (kind == "statement") return argc >= 9 ? CraftStatement(argc, argv) : Usage();
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
