// DownloadFile next to a bare WinINet read loop on the same URL: what the
// program's download adds to what the platform costs. A second bare loop
// with 1 MiB reads shows what the 16 KiB reads cost the platform.
//
//   download_bench URL [--bytes N] [--reps N]
//
// URL serves N bytes (default 16 MiB) of the loopback test server's generated
// data. The loops are run in turns, the order moving on every repetition so
// that drift on a shared machine falls on all alike; medians, fastest runs
// and ratios are printed. Nothing here passes or fails on time; a body that
// is not the server's data ends the program with 1.
#include <windows.h>
#include <mmsystem.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "shell/download.h"
#include "update/download_request.h"

namespace {

// The server's generated bodies: byte i is (7i + i/256) mod 256.
bool IsGeneratedBody(const std::vector<uint8_t>& body, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (body[i] != static_cast<uint8_t>(i * 7 + (i >> 8))) return false;
    return true;
}

// The platform alone: the same request (user agent, header, flags, access
// type) and reads of `chunk` bytes (the program's are 16384), each straight
// into the destination.
int64_t BareDownload(const char* url, DWORD access, uint8_t* destination, uint32_t capacity, uint32_t chunk)
{
    char agent[USER_AGENT_SIZE];
    FormatUserAgent(agent, timeGetTime());
    HINTERNET internet = InternetOpenA(agent, access, nullptr, nullptr, 0);
    if (!internet) return -1;
    HINTERNET file = InternetOpenUrlA(internet, url, ACCEPT_HEADER, ACCEPT_HEADER_LENGTH, DOWNLOAD_REQUEST_FLAGS, 0);
    if (!file) {
        InternetCloseHandle(internet);
        return -1;
    }
    int64_t total = 0;
    for (;;) {
        const DWORD want = capacity - total < chunk ? static_cast<DWORD>(capacity - total) : chunk;
        DWORD received = 0;
        if (want == 0 || !InternetReadFile(file, destination + total, want, &received)) {
            total = -1;
            break;
        }
        if (received == 0) break;
        total += received;
    }
    InternetCloseHandle(file);
    InternetCloseHandle(internet);
    return total;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: download_bench URL [--bytes N] [--reps N]\n");
        return 2;
    }
    const char* url = argv[1];
    const uint32_t bytes = bench::Option(argc, argv, "--bytes", 16u << 20);
    const unsigned reps = bench::Option(argc, argv, "--reps", 31);

    // Room for one more chunk than expected, so a longer body shows as a
    // wrong length rather than a refusal box nobody would close.
    const uint32_t capacity = bytes + DOWNLOAD_CHUNK;
    std::vector<uint8_t> wrapped(capacity), bare(capacity);

    DWORD state = 0;
    InternetGetConnectedState(&state, 0);
    const DWORD access = (state & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                             : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;

    // The bare loop first: should the server be unreachable, it says so here
    // instead of DownloadFile showing a box that nobody closes.
    if (BareDownload(url, access, bare.data(), capacity, DOWNLOAD_CHUNK) != bytes || !IsGeneratedBody(bare, bytes)) {
        std::fprintf(stderr, "download_bench: %s did not give %u bytes of the test server's data\n", url, bytes);
        return 1;
    }
    if (DownloadFile(url, wrapped.data(), capacity) != static_cast<int32_t>(bytes) ||
        !IsGeneratedBody(wrapped, bytes)) {
        std::fprintf(stderr, "download_bench: DownloadFile did not give the body\n");
        return 1;
    }

    // Three arms in turns, the first moving on by one each repetition so
    // that drift falls on all alike. The third reads in 1 MiB pieces: how
    // much of the platform's cost is the number of reads.
    enum { WRAPPED, BARE, BARE_LARGE, ARMS };
    const char* const names[ARMS] = {"DownloadFile", "bare WinINet loop", "bare loop, 1 MiB reads"};
    std::vector<double> times[ARMS];
    for (unsigned rep = 0; rep < reps; ++rep) {
        for (int turn = 0; turn < ARMS; ++turn) {
            const int arm = (rep + turn) % ARMS;
            const double start = bench::Now();
            const int64_t got = arm == WRAPPED ? DownloadFile(url, wrapped.data(), capacity)
                                               : BareDownload(url, access, bare.data(), capacity,
                                                              arm == BARE ? DOWNLOAD_CHUNK : 1u << 20);
            const double seconds = bench::Now() - start;
            if (got != bytes) {
                std::fprintf(stderr, "download_bench: %s gave %lld bytes\n", names[arm], static_cast<long long>(got));
                return 1;
            }
            times[arm].push_back(seconds);
        }
    }

    const double mib = bytes / 1048576.0;
    std::printf("download of %.0f MiB from %s, %u interleaved runs each; median (fastest run)\n", mib, url, reps);
    for (int arm = 0; arm < ARMS; ++arm) {
        const double median = bench::Median(times[arm]);
        std::printf("  %-24s %7.1f ms (%6.1f ms)  %6.1f MiB/s  slowest %.1f ms\n", names[arm], median * 1e3,
                    bench::Min(times[arm]) * 1e3, mib / median,
                    *std::max_element(times[arm].begin(), times[arm].end()) * 1e3);
    }
    std::printf("  ratio DownloadFile / bare: %.3f (fastest runs: %.3f)\n",
                bench::Median(times[WRAPPED]) / bench::Median(times[BARE]),
                bench::Min(times[WRAPPED]) / bench::Min(times[BARE]));
    std::printf("  ratio bare / bare with 1 MiB reads: %.3f (fastest runs: %.3f)\n",
                bench::Median(times[BARE]) / bench::Median(times[BARE_LARGE]),
                bench::Min(times[BARE]) / bench::Min(times[BARE_LARGE]));

    // The two things DownloadFile does that the bare loop does not: ask for
    // the connection state once, and copy each chunk from its staging area.
    std::vector<double> stateTimes, copyTimes;
    static uint8_t staging[DOWNLOAD_CHUNK];
    for (unsigned rep = 0; rep < 9; ++rep) {
        double start = bench::Now();
        DWORD flags = 0;
        InternetGetConnectedState(&flags, 0);
        stateTimes.push_back(bench::Now() - start);
        start = bench::Now();
        for (uint32_t at = 0; at < bytes; at += DOWNLOAD_CHUNK) {
            staging[rep] = static_cast<uint8_t>(at);
            std::memcpy(wrapped.data() + at, staging, std::min(DOWNLOAD_CHUNK, bytes - at));
        }
        copyTimes.push_back(bench::Now() - start);
    }
    std::printf(
        "  what DownloadFile adds (medians of 9): InternetGetConnectedState %.2f ms per call, "
        "staging copies of the body %.2f ms\n",
        bench::Median(stateTimes) * 1e3, bench::Median(copyTimes) * 1e3);
    return 0;
}
