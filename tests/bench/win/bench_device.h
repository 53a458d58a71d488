#pragma once
// The in-process simulated device found through the test-only hid/setupapi
// DLLs, a progress button on the main thread, a worker thread that leaves the
// main thread serving messages (as the program's update thread does), and the
// image package the programming benchmarks write.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "device/hid_cmd.h"
#include "tools/simulator/pipe_server.h"
#include "update/package_builder.h"

namespace bench {

// The measurements mean nothing on Wine's own setupapi: it would enumerate
// other devices. The DLLs in use must be the ones next to this program.
inline bool FakesLoaded()
{
    wchar_t exe[MAX_PATH], dll[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    for (const wchar_t* name : {L"hid.dll", L"setupapi.dll"}) {
        HMODULE module = GetModuleHandleW(name);
        if (module == nullptr || GetModuleFileNameW(module, dll, MAX_PATH) == 0) return false;
        std::wstring a(exe), b(dll);
        a.resize(a.find_last_of(L'\\'));
        b.resize(b.find_last_of(L'\\'));
        if (_wcsicmp(a.c_str(), b.c_str()) != 0) return false;
    }
    return true;
}

// The simulated device on a pipe of this process, with the commands it took
// counted (erases, and refused blocks that would spoil a measurement).
class Simulator {
public:
    explicit Simulator(const SimulatorOptions& options) : m_device(options)
    {
        m_path = L"\\\\.\\pipe\\ruvo-bench-" + std::to_wstring(GetCurrentProcessId());
        PipeServerConfig config;
        config.pipePath = m_path;
        config.commandLog = [this](const char* line) {
            if (std::strncmp(line, "ERASE", 5) == 0) ++m_erases;
            if (std::strncmp(line, "BAD", 3) == 0) ++m_refused;
            ++m_commands;
        };
        m_server = std::make_unique<PipeServer>(m_device, config);
    }

    // Starts the pipe, points the test-only setupapi at it (it reads the
    // variable on each enumeration) and connects the way the program does.
    bool StartAndConnect()
    {
        if (!FakesLoaded()) {
            std::fprintf(stderr,
                         "the test-only hid.dll/setupapi.dll are not in use; run with "
                         "WINEDLLOVERRIDES=hid,setupapi=n\n");
            return false;
        }
        if (!m_server->Start()) return false;
        const std::wstring list = m_path + L"=0416:F362";
        SetEnvironmentVariableW(L"RUVO_FAKE_HID_DEVICES", list.c_str());
        if (Connect() != 1) {
            std::fprintf(stderr, "the program did not find the simulated device\n");
            return false;
        }
        return true;
    }

    uint64_t ReportsMoved()
    {
        uint64_t moved = 0;
        m_server->WithDevice([&](SimulatedDevice& d) { moved = d.ReportsMoved(); });
        return moved;
    }
    // Client writes complete when the device has taken the report, but its
    // bookkeeping may trail by one report; wait until it has settled.
    uint64_t SettledReportsMoved(uint64_t atLeast)
    {
        const double end = Now() + 5;
        uint64_t moved = ReportsMoved();
        while (moved < atLeast && Now() < end) {
            Sleep(1);
            moved = ReportsMoved();
        }
        return moved;
    }
    unsigned Erases() const { return m_erases; }
    unsigned Refused() const { return m_refused; }
    unsigned Commands() const { return m_commands; }

    // True when the flash holds the package's image data where it belongs.
    bool Holds(const std::vector<uint8_t>& package);

private:
    std::wstring m_path;
    SimulatedDevice m_device;
    std::unique_ptr<PipeServer> m_server;
    std::atomic<unsigned> m_erases{0};
    std::atomic<unsigned> m_refused{0};
    std::atomic<unsigned> m_commands{0};
};

// A button owned by the main thread: the progress texts of ProgramImage go
// to it from the worker thread, through the window system, as in the program.
inline HWND MakeProgressButton()
{
    return CreateWindowExW(0, L"button", L"", WS_POPUP, 0, 0, 200, 50, nullptr, nullptr, nullptr, nullptr);
}

// Runs `work` on a new thread to its end while this thread serves messages.
template <typename Work>
void RunOnWorker(Work& work)
{
    auto entry = [](LPVOID parameter) -> DWORD {
        (*static_cast<Work*>(parameter))();
        return 0;
    };
    HANDLE thread = CreateThread(nullptr, 0, entry, &work, 0, nullptr);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    CloseHandle(thread);
}

inline uint8_t ImageByte(size_t i)
{
    return static_cast<uint8_t>((i * 13) ^ (i >> 9));
}

// An image package as the publisher tool makes it, then checked (and so
// de-obfuscated) as the update thread hands it to ProgramImage. 256 KiB of
// firmware gives 63 full blocks and a tail of 16 pages: 64 blocks erased.
inline std::vector<uint8_t> CheckedImagePackage(uint32_t firstBlock, size_t firmwareBytes, const char* id = "IMG1")
{
    std::vector<uint8_t> firmware(firmwareBytes);
    for (size_t i = 0; i < firmware.size(); ++i) firmware[i] = ImageByte(i);
    std::vector<uint8_t> package;
    std::string error;
    if (!BuildImagePackage(id, firstBlock, firmware, &package, &error)) {
        std::fprintf(stderr, "package: %s\n", error.c_str());
        return {};
    }
    if (CheckPackage(PACKAGE_IMAGE, package.data(), static_cast<uint32_t>(package.size()), id, package.size()) !=
        PACKAGE_OK) {
        std::fprintf(stderr, "package refused by the check\n");
        return {};
    }
    return package;
}

struct ImageShape {
    uint32_t first, last, tailPages;
};

inline ImageShape ShapeOf(const std::vector<uint8_t>& package)
{
    const auto& header = *reinterpret_cast<const PackageHeader*>(package.data());
    return {PackageFirstBlock(header), PackageLastBlock(header), header.tailPages};
}

// Reports one ProgramImage moves, both directions: the begin-image test
// command; per full block an erase, a write command and 64 data reports;
// for the last block an erase, a write command and 4 per tail page; then per
// full block a read command and 64 answers, and for the tail a read command
// and 4 answers per page.
inline uint64_t ReportsOf(const ImageShape& s)
{
    const uint64_t full = s.last - s.first;
    const uint64_t perBlock = PAGES_PER_BLOCK * REPORTS_PER_PAGE;
    const uint64_t tail = uint64_t{s.tailPages} * REPORTS_PER_PAGE;
    return 1 + full * (2 + perBlock) + (2 + tail) + full * (1 + perBlock) + (1 + tail);
}

inline uint64_t ErasesOf(const ImageShape& s)
{
    return s.last - s.first + 1;
}

inline bool Simulator::Holds(const std::vector<uint8_t>& package)
{
    const ImageShape s = ShapeOf(package);
    const size_t data = size_t(s.last - s.first) * FLASH_BLOCK_SIZE + size_t(s.tailPages) * FLASH_PAGE_SIZE;
    bool same = false;
    m_server->WithDevice([&](SimulatedDevice& d) {
        same = std::memcmp(d.Flash() + size_t(s.first) * FLASH_BLOCK_SIZE, package.data() + PACKAGE_HEADER_LENGTH,
                           data) == 0;
    });
    return same;
}

}  // namespace bench
