// libFuzzer target: device record decoding, the catalogue walk over plain
// bytes (no checksum in the way) and the skip rules. Input: the 16-byte device
// record, then the plain catalogue in a heap buffer of exactly its size.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "update/catalogue.h"
#include "update/device_info.h"

namespace {

bool Terminated(const char16_t* text, int capacity)
{
    for (int i = 0; i < capacity; ++i) {
        if (text[i] == u'\0') return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < DEVICE_INFO_SIZE) return 0;
    const DeviceInfo info = DecodeDeviceInfo(data);
    for (int i = 0; i < 4; ++i) {
        const char c = info.versionText[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) abort();
    }

    std::vector<uint8_t> package(data + DEVICE_INFO_SIZE, data + size);
    CatalogueWalk walk;
    const int32_t code = WalkCatalogue(package.empty() ? nullptr : package.data(), package.size(), &walk);
    if (code != CATALOGUE_OK) {
        if (walk.count != 0 || walk.optionLineCount != 0) abort();  // refused means empty
        return 0;
    }
    if (walk.count < 0 || walk.count > MAX_CATALOGUE_ENTRIES) abort();
    if (walk.optionLineCount != (walk.count > 2 ? walk.count - 2 : 0)) abort();
    for (int32_t k = 0; k < walk.optionLineCount; ++k) {
        if (!Terminated(walk.optionLines[k], OPTION_LINE_LENGTH)) abort();
    }
    for (int32_t i = 0; i < walk.count; ++i) {
        if (walk.entries[i].size < 0 || walk.entries[i].size > CATALOGUE_MAX_RECORD_SIZE) abort();
        if (!Terminated(walk.descriptions[i], CATALOGUE_DESCRIPTION_MAX + 1)) abort();
    }
    ApplySkipRules(walk.entries, walk.count, walk.comparisonText, info.deviceVersion, info.deviceSecondVersion);
    return 0;
}
