// The update of one 256 KiB image as the update thread runs it: download from
// the loopback server, the signed build's length and SHA-256 check, the
// package check and programming on the paced simulated device. Built twice
// from this file: update_bench (no keys: the default build) and
// update_bench_signed (the test-only key a); scripts/bench.sh runs them in
// turns in one run and prints the ratio of their medians. Also the SHA-256
// throughput of the crypto back end (CNG in this build).
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

constexpr char IMAGE_NAME[] = "BTIMG1.bin";  // characters 2-5: the package id IMG1
constexpr size_t FIRMWARE_BYTES = 256 * 1024;

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
    std::vector<uint8_t> image(FIRMWARE_BYTES + 288);
    std::vector<double> small;
    for (int run = 0; run < 21; ++run) {
        const double start = bench::Now();
        Sha256(image.data(), image.size(), digest);
        small.push_back(bench::Now() - start);
    }
    const double median = bench::Median(seconds);
    std::printf("SHA-256 (crypto back end of this build): %u MiB in %.3f s, %.0f MiB/s (median of 5)\n", mib, median,
                mib / median);
    std::printf("  one 256 KiB image package: %.3f ms (median of 21)\n", bench::Median(small) * 1000);
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

    // The package as published, on the server; and as the check leaves it.
    std::vector<uint8_t> firmware(FIRMWARE_BYTES), stored;
    for (size_t i = 0; i < firmware.size(); ++i) firmware[i] = bench::ImageByte(i);
    std::string error;
    if (!BuildImagePackage("IMG1", 0, firmware, &stored, &error)) {
        std::fprintf(stderr, "package: %s\n", error.c_str());
        return 1;
    }
    const std::vector<uint8_t> checked = bench::CheckedImagePackage(0, FIRMWARE_BYTES);
    const std::string path = std::string(argv[1]) + "\\" + IMAGE_NAME;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(stored.data(), 1, stored.size(), file) != stored.size() || std::fclose(file) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }

    bench::Simulator sim(options);
    if (!sim.StartAndConnect()) return 1;
    const HWND button = bench::MakeProgressButton();

    // What identification leaves: a one-entry table, and on a signed build
    // the statement's record of the file.
    std::memset(&g_app, 0, sizeof g_app);
    g_app.instance = GetModuleHandleW(nullptr);
    std::strcpy(g_app.catalogue[0].name, IMAGE_NAME);
    g_app.catalogue[0].size = static_cast<int32_t>(stored.size());
    g_app.catalogueCount = 1;
    std::strcpy(g_releaseStatement.records[0].name, IMAGE_NAME);
    g_releaseStatement.records[0].size = static_cast<uint32_t>(stored.size());
    Sha256(stored.data(), stored.size(), g_releaseStatement.records[0].sha256);
    g_releaseStatement.recordCount = 1;
    // The signed program has loaded CNG before any update: identification
    // hashed the catalogue and checked the statement. Do the same, untimed.
    if (SIGNED_RELEASES) {
        uint8_t digest[SHA256_LENGTH];
        const uint8_t signature[P256_SIGNATURE_LENGTH] = {1};
        Sha256(stored.data(), STATEMENT_MAX_LENGTH, digest);
        VerifyP256(RELEASE_KEYS[0].point, digest, signature);
    }

    std::vector<double> seconds;
    for (unsigned run = 0; run < reps; ++run) {
        g_platform = RecordingPlatform();
        g_app.updateButton = button;
        const double start = bench::Now();
        RunWorker(UpdateThread);
        seconds.push_back(bench::Now() - start);
        const bool done = !g_platform.processEnded && g_platform.boxes.size() == 1 &&
                          g_platform.boxes[0].caption == CAPTION_UPDATE_DONE;
        if (!done || !sim.Holds(checked) || sim.Refused() != 0) {
            std::fprintf(stderr, "run %u: the update did not complete (%zu boxes)\n", run + 1, g_platform.boxes.size());
            return 1;
        }
    }
    std::printf("%s build: paced update of one 256 KiB image (%u us per report, %u ms per erase):",
                SIGNED_RELEASES ? "signed  " : "unsigned", options.reportDelayUs, options.eraseDelayMs);
    for (double s : seconds) std::printf(" %.3f", s);
    std::printf(" s; median %.3f s\n", bench::Median(seconds));
    return 0;
}
