// The update of a three-image release as the update thread runs it (base
// images 0 and 1 and one chosen option, 256 KiB in all): download from the
// loopback server, the signed build's length and SHA-256 check, the package
// check and programming on the paced simulated device. A signed build
// fetches and checks all three before the first erase, the default build
// one at a time. Built twice from this file: update_bench (no keys: the
// default build) and update_bench_signed (the test-only key a);
// scripts/bench.sh runs them in turns in one run and prints the ratio of
// their medians. Also the SHA-256 throughput of the crypto back end (CNG in
// this build).
//   update_bench POOL_DIR [--reps 3] [--report-us 1000] [--erase-ms 20]
//   update_bench --sha256 [--mib 64]
#include "bench_device.h"
#include "bench_support.h"

#include "recording_platform.h"
#include "shell/app_state.h"
#include "shell/messages.h"
#include "update/release_keys.h"
#include "shell/signed_release.h"
#include "shell/update_threads.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The release, in table order; characters 2-5 of a name are its package id.
struct BenchImage {
    const char* name;
    uint32_t firstBlock;
    size_t firmwareBytes;
};
constexpr BenchImage RELEASE[] = {
    {"BTIMG0.bin", 0, 128 * 1024},
    {"BVIMG1.bin", 64, 64 * 1024},
    {"OPIMG2.bin", 128, 64 * 1024},
};
constexpr int IMAGE_COUNT = sizeof RELEASE / sizeof RELEASE[0];
constexpr size_t RELEASE_FIRMWARE_BYTES = 256 * 1024;  // the three together

int Sha256Throughput(unsigned mib)
{
    std::vector<uint8_t> data(size_t(mib) << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = bench::ImageByte(i);
    uint8_t digest[SHA256_LENGTH];
    Sha256(data.data(), data.size(), digest);  // warm: provider loaded, pages touched
    std::vector<double> seconds;
    for (int run = 0; run < 5; ++run) {
        const double start = bench::Now();
        if (!Sha256(data.data(), data.size(), digest)) {
            std::fprintf(stderr, "SHA-256 failed\n");
            return 1;
        }
        seconds.push_back(bench::Now() - start);
    }
    std::vector<uint8_t> image(RELEASE_FIRMWARE_BYTES + 288);
    std::vector<double> small;
    for (int run = 0; run < 21; ++run) {
        const double start = bench::Now();
        Sha256(image.data(), image.size(), digest);
        small.push_back(bench::Now() - start);
    }
    const double median = bench::Median(seconds);
    std::printf("SHA-256 (crypto back end of this build): %u MiB in %.3f s, %.0f MiB/s (median of 5)\n", mib, median,
                mib / median);
    std::printf("  256 KiB of image packages: %.3f ms (median of 21)\n", bench::Median(small) * 1000);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (bench::Flag(argc, argv, "--sha256")) return Sha256Throughput(bench::Option(argc, argv, "--mib", 64));
    if (argc < 2) {
        std::fprintf(stderr, "usage: update_bench POOL_DIR [--reps N] [--report-us N] [--erase-ms N] | --sha256\n");
        return 2;
    }
    SimulatorOptions options;
    options.reportDelayUs = bench::Option(argc, argv, "--report-us", 1000);
    options.eraseDelayMs = bench::Option(argc, argv, "--erase-ms", 20);
    const unsigned reps = bench::Option(argc, argv, "--reps", 3);

    bench::Simulator sim(options);
    if (!sim.StartAndConnect()) return 1;
    const HWND button = bench::MakeProgressButton();
    // The user picked option line 0: entry 2.
    const HWND optionList = CreateWindowExW(0, L"ComboBox", L"", WS_POPUP | CBS_DROPDOWNLIST | CBS_HASSTRINGS, 0, 0,
                                            100, 100, nullptr, nullptr, nullptr, nullptr);
    SendMessageW(optionList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"option"));
    SendMessageW(optionList, CB_SETCURSEL, 0, 0);

    // What identification leaves: the release's table, and on a signed build
    // the statement's record of each file. The packages as published go on
    // the server; as the check leaves them, they are what the flash must hold.
    std::memset(&g_app, 0, sizeof g_app);
    g_app.instance = GetModuleHandleW(nullptr);
    std::vector<uint8_t> checked[IMAGE_COUNT];
    for (int i = 0; i < IMAGE_COUNT; ++i) {
        const BenchImage& image = RELEASE[i];
        const std::string id(image.name + 2, 4);
        std::vector<uint8_t> firmware(image.firmwareBytes), stored;
        for (size_t b = 0; b < firmware.size(); ++b) firmware[b] = bench::ImageByte(b);
        std::string error;
        if (!BuildImagePackage(id.c_str(), image.firstBlock, firmware, &stored, &error)) {
            std::fprintf(stderr, "package: %s\n", error.c_str());
            return 1;
        }
        checked[i] = bench::CheckedImagePackage(image.firstBlock, image.firmwareBytes, id.c_str());
        const std::string path = std::string(argv[1]) + "\\" + image.name;
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(stored.data(), 1, stored.size(), file) != stored.size() || std::fclose(file) != 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::strcpy(g_app.catalogue[i].name, image.name);
        g_app.catalogue[i].size = static_cast<int32_t>(stored.size());
        StatementRecord& record = g_releaseStatement.records[i];
        std::strcpy(record.name, image.name);
        record.size = static_cast<uint32_t>(stored.size());
        Sha256(stored.data(), stored.size(), record.sha256);
    }
    g_app.catalogueCount = IMAGE_COUNT;
    g_releaseStatement.recordCount = IMAGE_COUNT;
    // The signed program has loaded CNG before any update: identification
    // hashed the catalogue and checked the statement. Do the same, untimed.
    if (SIGNED_RELEASES) {
        uint8_t digest[SHA256_LENGTH];
        const uint8_t signature[P256_SIGNATURE_LENGTH] = {1};
        Sha256(checked[0].data(), STATEMENT_MAX_LENGTH, digest);
        VerifyP256(RELEASE_KEYS[0].point, digest, signature);
    }

    std::vector<double> seconds;
    for (unsigned run = 0; run < reps; ++run) {
        g_platform = RecordingPlatform();
        g_app.updateButton = button;
        g_app.optionList = optionList;
        const double start = bench::Now();
        RunWorker(UpdateThread);
        seconds.push_back(bench::Now() - start);
        const bool done = !g_platform.processEnded && g_platform.boxes.size() == 1 &&
                          g_platform.boxes[0].caption == CAPTION_UPDATE_DONE;
        bool held = true;
        for (const std::vector<uint8_t>& package : checked) held = held && sim.Holds(package);
        if (!done || !held || sim.Refused() != 0) {
            std::fprintf(stderr, "run %u: the update did not complete (%zu boxes)\n", run + 1, g_platform.boxes.size());
            return 1;
        }
    }
    std::printf("%s build: paced update of three images, 256 KiB in all (%u us per report, %u ms per erase):",
                SIGNED_RELEASES ? "signed  " : "unsigned", options.reportDelayUs, options.eraseDelayMs);
    for (double s : seconds) std::printf(" %.3f", s);
    std::printf(" s; median %.3f s\n", bench::Median(seconds));
    return 0;
}
