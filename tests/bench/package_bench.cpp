// Cost of the package check on the largest packages the updater meets: a
// 1 MiB image and a catalogue at its 2048-byte limit, plus the walk.
// Each iteration checks a package in its stored form: the check de-obfuscates
// in place, so the loop obfuscates it again; BM_ObfuscateCatalogue shows what
// that restoring costs for the catalogue (for an image it is 24 bytes).
#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "update/catalogue.h"
#include "update/package_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ImagePackage(size_t firmwareLength)
{
    Bytes firmware(firmwareLength);
    for (size_t i = 0; i < firmware.size(); ++i) firmware[i] = static_cast<uint8_t>(i * 31 + 7);
    Bytes package;
    std::string error;
    if (!BuildImagePackage("M0R1", 0, firmware, &package, &error)) throw std::runtime_error(error);
    return package;
}

// Eight records of the longest kind, then padding to the 2048-byte limit.
Bytes FullCatalogue()
{
    Bytes plain(PACKAGE_HEADER_LENGTH, 0);
    plain[10] = CATALOGUE_STATUS_CURRENT;
    for (int i = 0; i < MAX_CATALOGUE_ENTRIES; ++i) {
        AppendCatalogueRecord(plain, "C0MXX" + std::to_string(i) + std::string(25, 'x'), 1u << 20,
                              std::u16string(CATALOGUE_DESCRIPTION_MAX, u'\u53f0'));
    }
    plain.resize(CATALOGUE_MAX_LENGTH, 0);
    SealPackage(PACKAGE_CATALOGUE, plain, "M01A");
    return plain;
}

void BM_CheckImage1MiB(benchmark::State& state)
{
    Bytes package = ImagePackage(1 << 20);
    const uint32_t length = static_cast<uint32_t>(package.size());
    for (auto _ : state) {
        const int32_t code = CheckPackage(PACKAGE_IMAGE, package.data(), length, "M0R1", package.size());
        if (code != PACKAGE_OK) state.SkipWithError("image refused");
        ObfuscatePackage(PACKAGE_IMAGE, package.data(), package.size(), "M0R1");
        benchmark::DoNotOptimize(package.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}
BENCHMARK(BM_CheckImage1MiB);

void BM_CheckCatalogue2048(benchmark::State& state)
{
    Bytes package = FullCatalogue();
    for (auto _ : state) {
        const int32_t code =
            CheckPackage(PACKAGE_CATALOGUE, package.data(), CATALOGUE_MAX_LENGTH, "M01A", package.size());
        if (code != PACKAGE_OK) state.SkipWithError("catalogue refused");
        ObfuscatePackage(PACKAGE_CATALOGUE, package.data(), package.size(), "M01A");
        benchmark::DoNotOptimize(package.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * CATALOGUE_MAX_LENGTH);
}
BENCHMARK(BM_CheckCatalogue2048);

void BM_ObfuscateCatalogue2048(benchmark::State& state)
{
    Bytes package = FullCatalogue();
    for (auto _ : state) {
        ObfuscatePackage(PACKAGE_CATALOGUE, package.data(), package.size(), "M01A");
        benchmark::DoNotOptimize(package.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * CATALOGUE_MAX_LENGTH);
}
BENCHMARK(BM_ObfuscateCatalogue2048);

void BM_WalkFullCatalogue(benchmark::State& state)
{
    Bytes package = FullCatalogue();
    ObfuscatePackage(PACKAGE_CATALOGUE, package.data(), package.size(), "M01A");
    CatalogueWalk walk;
    for (auto _ : state) {
        if (WalkCatalogue(package.data(), package.size(), &walk) != CATALOGUE_OK) state.SkipWithError("refused");
        benchmark::DoNotOptimize(&walk);
    }
}
BENCHMARK(BM_WalkFullCatalogue);

}  // namespace
