// Writes the seed corpus of the fuzz targets: well-made packages from the
// builder and a few near misses, in each target's input format.
//   make_fuzz_seeds <corpus folder>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "update/package_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Save(const std::string& dir, const std::string& target, const std::string& name, const Bytes& bytes)
{
    const std::string path = dir + "/" + target + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::fprintf(stderr, "cannot write %s\n", path.c_str());
}

// Check targets: id, length argument (big-endian), package.
Bytes CheckInput(const char* id, uint32_t length, const Bytes& package)
{
    Bytes input(id, id + 4);
    for (int shift = 24; shift >= 0; shift -= 8) input.push_back(static_cast<uint8_t>(length >> shift));
    input.insert(input.end(), package.begin(), package.end());
    return input;
}
Bytes CheckInput(const char* id, const Bytes& package)
{
    return CheckInput(id, static_cast<uint32_t>(package.size()), package);
}

std::vector<CatalogueRecordInput> Records(int count, size_t descriptionLength)
{
    const char* names[] = {"T0M21F", "V0MA01", "C0M0R1", "C0MUS2", "C0MJP3", "C0MKR4", "C0MCN5", "C0MEU6"};
    std::vector<CatalogueRecordInput> records;
    for (int i = 0; i < count; ++i) {
        records.push_back({names[i], 4128u + 4096u * i, std::u16string(descriptionLength, u'\u53f0')});
    }
    return records;
}

Bytes Catalogue(uint8_t status, int count, size_t descriptionLength)
{
    Bytes package;
    std::string error;
    if (!BuildCataloguePackage("M01A", status, Records(count, descriptionLength), &package, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
    }
    return package;
}

Bytes Image(uint32_t firstBlock, size_t length)
{
    Bytes firmware(length);
    for (size_t i = 0; i < length; ++i) firmware[i] = static_cast<uint8_t>(i * 7);
    Bytes package;
    std::string error;
    if (!BuildImagePackage("M0R1", firstBlock, firmware, &package, &error)) std::fprintf(stderr, "%s\n", error.c_str());
    return package;
}

Bytes Plain(int mode, Bytes stored, const char* id)
{
    ObfuscatePackage(mode, stored.data(), stored.size(), id);
    return stored;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <corpus folder>\n");
        return 2;
    }
    const std::string dir = argv[1];

    const std::string catalogueTarget = "fuzz_check_catalogue";
    Save(dir, catalogueTarget, "five-records", CheckInput("M01A", Catalogue(2, 5, 6)));
    Save(dir, catalogueTarget, "no-records", CheckInput("M01A", Catalogue(2, 0, 0)));
    Save(dir, catalogueTarget, "stale-status", CheckInput("M01A", Catalogue(1, 2, 3)));
    Save(dir, catalogueTarget, "eight-long-records", CheckInput("M01A", Catalogue(2, 8, 36)));
    Save(dir, catalogueTarget, "failed-download", CheckInput("M01A", 4294967295u, Catalogue(2, 1, 1)));

    const std::string imageTarget = "fuzz_check_image";
    Save(dir, imageTarget, "one-page", CheckInput("M0R1", Image(5, 10)));
    Save(dir, imageTarget, "block-and-tail", CheckInput("M0R1", Image(40, 4096 + 700)));
    Save(dir, imageTarget, "whole-block-tail", CheckInput("M0R1", Image(0, 4096)));
    Bytes layout = Plain(PACKAGE_IMAGE, Image(5, 10), "M0R1");
    layout[27] = 17;  // tail past one block
    SealPackage(PACKAGE_IMAGE, layout, "M0R1");
    Save(dir, imageTarget, "tail-of-17", CheckInput("M0R1", layout));
    Save(dir, imageTarget, "failed-download", CheckInput("M0R1", 4294967295u, Image(5, 10)));

    const std::string identifyTarget = "fuzz_identify";
    const Bytes info = {0x21, 0x03, 0x0A, 0x1F, 'A', '0', '1', 2, 0, 0, 0, 0, 'M', '0', '1', 'A'};
    auto identifyInput = [&](const Bytes& plainCatalogue) {
        Bytes input = info;
        input.insert(input.end(), plainCatalogue.begin(), plainCatalogue.end());
        return input;
    };
    Save(dir, identifyTarget, "five-records", identifyInput(Plain(PACKAGE_CATALOGUE, Catalogue(2, 5, 6), "M01A")));
    Save(dir, identifyTarget, "no-records", identifyInput(Plain(PACKAGE_CATALOGUE, Catalogue(2, 0, 0), "M01A")));
    Save(dir, identifyTarget, "eight-long-records",
         identifyInput(Plain(PACKAGE_CATALOGUE, Catalogue(2, 8, 36), "M01A")));
    Bytes cut = Plain(PACKAGE_CATALOGUE, Catalogue(2, 3, 4), "M01A");
    cut.pop_back();  // the closing 0 byte
    Save(dir, identifyTarget, "no-closing-zero", identifyInput(cut));
    return 0;
}
