// Decoding stored packages for people: id recovery, header and contents.
#include "tools/ruvo-pack/package_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/ruvo-pack/release.h"
#include "update/buffer_sizes.h"
#include "update/catalogue.h"
#include "update/package.h"
#include "tools/ruvo-pack/utf.h"

namespace {

// How far a refused package got through the check, to pick the likeliest
// reading when nothing is accepted.
int Progress(int32_t code)
{
    switch (code) {
    case PACKAGE_OK:
        return 7;
    case PACKAGE_BAD_LAYOUT:
        return 6;
    case PACKAGE_BAD_SUM:
        return 5;
    case PACKAGE_BAD_XOR:
        return 4;
    case PACKAGE_BEYOND_BUFFER:
        return 3;
    case PACKAGE_BAD_LENGTH:
        return 2;
    case PACKAGE_BAD_MAGIC:
        return 1;
    default:
        return 0;
    }
}

std::string Hex(uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string Printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

void PrintCatalogue(const std::vector<uint8_t>& plain, std::ostream& out)
{
    const uint8_t status = plain[10];
    out << "status:       " << int(status) << " (" << CatalogueStatusMeaning(status) << ")\n";
    CatalogueWalk walk;
    const int32_t code = WalkCatalogue(plain.data(), plain.size(), &walk);
    if (code != CATALOGUE_OK) {
        out << "records:      refused, " << code << " " << CatalogueResultName(code) << ": "
            << CatalogueResultMeaning(code) << "\n";
        return;
    }
    out << "records:      " << walk.count << "\n";
    for (int32_t i = 0; i < walk.count; ++i) {
        const std::string name = walk.entries[i].name;
        out << "  [" << i << "] " << Printable(name) << "  size " << walk.entries[i].size << "  image id \""
            << Printable(PackageIdOfName(name))
            << "\"  \"" << Utf16ToUtf8(walk.descriptions[i]) << "\"";
        if (i == 0) out << "  (base, version " << Printable(name.substr(std::min<size_t>(4, name.size()), 2)) << ")";
        if (i == 1) out << "  (base, second version " << Printable(walk.comparisonText) << ")";
        out << "\n";
    }
    for (int32_t k = 0; k < walk.optionLineCount; ++k) {
        out << "  line " << k << ": \"" << Utf16ToUtf8(walk.optionLines[k]) << "\"\n";
    }
}

void PrintImage(const PackageHeader& header, uint32_t totalLength, std::ostream& out)
{
    const uint32_t first = PackageFirstBlock(header);
    const uint32_t last = PackageLastBlock(header);
    const uint64_t data = PackageImageDataLength(header);
    out << "first block:  " << first << " (page " << first * PAGES_PER_BLOCK << ")\n";
    out << "last block:   " << last << " (page " << last * PAGES_PER_BLOCK << ")\n";
    out << "tail pages:   " << int(header.tailPages) << "\n";
    out << "image data:   " << data << " bytes (" << (last >= first ? last - first : 0) << " full blocks + tail)";
    if (PACKAGE_HEADER_LENGTH + data < totalLength) {
        out << ", " << totalLength - PACKAGE_HEADER_LENGTH - data << " bytes unused";
    }
    out << "\n";
}

}  // namespace

const char* CatalogueStatusMeaning(uint8_t status)
{
    if (status == CATALOGUE_STATUS_CURRENT) return "current";
    if (status < CATALOGUE_STATUS_CURRENT) return "out of date: the updater asks for another server";
    return "needs a newer updater";
}

int32_t CheckStoredPackage(int mode, const std::vector<uint8_t>& stored, const std::string& id,
                           std::vector<uint8_t>* plain)
{
    std::vector<uint8_t> buffer(std::max<size_t>(stored.size(), PACKAGE_HEADER_LENGTH) + IMAGE_BUFFER_SLACK, 0);
    std::copy(stored.begin(), stored.end(), buffer.begin());
    char idText[4] = {};
    std::memcpy(idText, id.data(), std::min<size_t>(id.size(), 4));
    const uint32_t length = stored.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(stored.size());
    const int32_t code = CheckPackage(mode, buffer.data(), length, idText, buffer.size());
    if (plain) {
        buffer.resize(std::max<size_t>(stored.size(), PACKAGE_HEADER_LENGTH));
        *plain = std::move(buffer);
    }
    return code;
}

bool IdentifyPackage(const std::vector<uint8_t>& stored, const std::string& id, PackageIdentity* identity)
{
    std::vector<std::string> candidates;
    if (!id.empty()) {
        candidates.push_back(id);
    } else {
        for (uint32_t base = 0; base < PACKAGE_KEY_LENGTH; ++base) {
            uint8_t header[PACKAGE_HEADER_LENGTH] = {};
            std::copy(stored.begin(), stored.begin() + std::min<size_t>(stored.size(), sizeof header), header);
            ObfuscatePackageAt(PACKAGE_IMAGE, header, sizeof header, base);
            const std::string candidate(reinterpret_cast<const char*>(header + 16), 4);
            if (PackageKeyBase(candidate.c_str()) == base) candidates.push_back(candidate);
        }
    }
    bool found = false;
    for (const std::string& candidate : candidates) {
        for (int mode : {PACKAGE_CATALOGUE, PACKAGE_IMAGE}) {
            const int32_t code = CheckStoredPackage(mode, stored, candidate, nullptr);
            if (!found || Progress(code) > Progress(identity->code)) {
                *identity = PackageIdentity{candidate, mode, code};
                found = true;
            }
        }
    }
    return found;
}

bool InspectPackage(const std::vector<uint8_t>& stored, const std::string& id, std::ostream& out)
{
    out << "file size:    " << stored.size() << " bytes\n";
    if (stored.size() < PACKAGE_HEADER_LENGTH) {
        out << "not a package: shorter than the " << PACKAGE_HEADER_LENGTH << "-byte header\n";
        return false;
    }
    PackageIdentity identity;
    // Below the magic nothing of the header can be trusted: no id, no length.
    if (!IdentifyPackage(stored, id, &identity) || Progress(identity.code) <= Progress(PACKAGE_BAD_MAGIC)) {
        out << "not a package: no " << (id.empty() ? "key" : "key of id \"" + Printable(id) + "\"")
            << " reveals the package magic\n";
        return false;
    }
    std::vector<uint8_t> plain;
    const int32_t code = CheckStoredPackage(identity.mode, stored, identity.id, &plain);
    PackageHeader header;
    std::memcpy(&header, plain.data(), sizeof header);
    const uint32_t totalLength = PackageTotalLength(header);

    out << "kind:         " << (identity.mode == PACKAGE_CATALOGUE ? "catalogue (5)" : "image (32)") << "\n";
    out << "package id:   \"" << Printable(identity.id) << "\"\n";
    out << "check:        " << code << " " << PackageResultName(code) << ": " << PackageResultMeaning(code) << "\n";
    out << "magic:        \"" << Printable(std::string(reinterpret_cast<const char*>(header.magic), 8)) << "\"\n";
    out << "total length: " << totalLength << "\n";
    out << "xor check:    " << Hex(header.xorCheck, 2) << "\n";
    out << "sum check:    " << Hex(header.sumCheck, 2) << "\n";
    if (code != PACKAGE_OK) return false;

    if (identity.mode == PACKAGE_CATALOGUE) {
        PrintCatalogue(plain, out);
    } else {
        PrintImage(header, totalLength, out);
    }
    return true;
}

bool ReadStoredCatalogue(const std::vector<uint8_t>& stored, const std::string& model, CatalogueWalk* walk,
                         std::string* why)
{
    std::vector<uint8_t> plain;
    const int32_t code = CheckStoredPackage(PACKAGE_CATALOGUE, stored, model, &plain);
    if (code != PACKAGE_OK) {
        *why = std::string("fails the catalogue check: ") + PackageResultName(code);
        return false;
    }
    const int32_t walked = WalkCatalogue(plain.data(), plain.size(), walk);
    if (walked != CATALOGUE_OK) {
        *why = std::string("fails the record walk: ") + CatalogueResultName(walked);
        return false;
    }
    return true;
}
