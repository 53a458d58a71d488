// ProgramImage of a 256 KiB image (63 full blocks and a 16-page tail: 64
// blocks erased) against the in-process simulated device.
//
//   program_bench --paced [--report-us 1000] [--erase-ms 20] [--reps 3]
//       The device paces itself like a real one. Each run is set against the
//       least time that pacing allows (reports x report time + erases x erase
//       time) and the overhead above it is printed.
//   program_bench --paced --system-device [--report-us 1000] [--erase-ms 20] [--reps 3]
//       The same against the device the system lists, through whatever HID
//       stack is loaded: Wine's own, with an emulated hidraw node paced by
//       its simulator with the same values (scripts/bench.sh starts it and
//       checks the reports and erases it counted). Run without the override.
//   program_bench --unpaced [--reps 11]
//       The device answers as fast as the pipe goes: the host's own cost per
//       report. A third arm sends the progress texts to no window.
//
// Both modes also run a bare transport loop that moves the very same reports
// through CHidIO (no staging copies, no compare, no progress texts), in turns
// with ProgramImage, so the program's share is seen apart from the
// transport's. Run with WINEDLLOVERRIDES=hid,setupapi=n; the program points
// the test-only setupapi at its own simulator. Nothing passes or fails on
// time; a wrong report count, a refused command or a bad read-back ends it
// with 1.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench_device.h"
#include "shell/program_image.h"
#include "shell/app_state.h"

namespace {

constexpr uint32_t IMAGE_BYTES = 256 * 1024;
constexpr uint32_t FIRST_BLOCK = 16;

void SendCommand(uint8_t opcode, uint32_t argument1, uint32_t argument2)
{
    CommandBlock block;
    FillCommandBlock(block, opcode, argument1, argument2);
    uint8_t report[REPORT_SIZE];
    BuildCommandReport(block, report);
    g_hidCmd.m_io.WriteReport(report, nullptr);
}

// The reports ProgramImage moves, in its order, straight through CHidIO.
bool BareTransport(const std::vector<uint8_t>& package)
{
    const bench::ImageShape s = bench::ShapeOf(package);
    const uint8_t* data = package.data() + PACKAGE_HEADER_LENGTH;
    uint8_t report[REPORT_SIZE];
    bool ok = true;
    auto writeData = [&](uint32_t block, uint32_t pages) {
        SendCommand(CMD_WRITE, block * PAGES_PER_BLOCK, pages);
        const uint8_t* source = data + size_t(block - s.first) * FLASH_BLOCK_SIZE;
        for (uint32_t r = 0; r < pages * REPORTS_PER_PAGE; ++r) {
            report[0] = 0;
            std::memcpy(report + 1, source + r * REPORT_PAYLOAD_SIZE, REPORT_PAYLOAD_SIZE);
            ok &= g_hidCmd.m_io.WriteReport(report, nullptr) == 1;
        }
    };
    auto readData = [&](uint32_t block, uint32_t pages) {
        SendCommand(CMD_READ, block * PAGES_PER_BLOCK, pages);
        for (uint32_t r = 0; r < pages * REPORTS_PER_PAGE; ++r) ok &= g_hidCmd.m_io.ReadReport(report, nullptr) == 1;
    };

    SendCommand(CMD_TEST, TEST_BEGIN_IMAGE, s.last - s.first + 1);
    for (uint32_t block = s.first; block < s.last; ++block) {
        SendCommand(CMD_ERASE, block, 1);
        writeData(block, PAGES_PER_BLOCK);
    }
    SendCommand(CMD_ERASE, s.last, 1);
    writeData(s.last, s.tailPages);
    for (uint32_t block = s.first; block < s.last; ++block) readData(block, PAGES_PER_BLOCK);
    readData(s.last, s.tailPages);
    return ok;
}

enum class Arm { PROGRAM, PROGRAM_NO_WINDOW, BARE_TRANSPORT };

const char* ArmName(Arm arm)
{
    switch (arm) {
    case Arm::PROGRAM:
        return "ProgramImage";
    case Arm::PROGRAM_NO_WINDOW:
        return "ProgramImage, no progress window";
    case Arm::BARE_TRANSPORT:
        return "bare transport";
    }
    return "?";
}

struct Run {
    double seconds;
    uint64_t reports;
    unsigned erases;
};

class Bench {
public:
    Bench(const SimulatorOptions& options, std::vector<uint8_t> package)
        : m_sim(options), m_package(std::move(package)), m_shape(bench::ShapeOf(m_package))
    {
    }

    bool Start()
    {
        if (!m_sim.StartAndConnect()) return false;
        m_button = bench::MakeProgressButton();
        return m_button != nullptr;
    }

    uint64_t ExpectedReports() const { return bench::ReportsOf(m_shape); }
    uint64_t ExpectedErases() const { return bench::ErasesOf(m_shape); }

    // One run of `arm` on a worker thread, timed there; the device's own
    // count of reports and erases is checked afterwards.
    bool Measure(Arm arm, Run* run)
    {
        const uint64_t reportsBefore = m_sim.ReportsMoved();
        const unsigned erasesBefore = m_sim.Erases();
        uint32_t mismatches = 0;
        bool transported = true;
        double seconds = 0;
        auto work = [&] {
            const double start = bench::Now();
            if (arm == Arm::BARE_TRANSPORT)
                transported = BareTransport(m_package);
            else
                mismatches = ProgramImage(m_package.data(), 'A');
            seconds = bench::Now() - start;
        };
        // Without a window the progress texts go nowhere: their cost shows
        // as the difference between the two ProgramImage arms.
        g_app.updateButton = arm == Arm::PROGRAM_NO_WINDOW ? nullptr : m_button;
        bench::RunOnWorker(work);

        run->seconds = seconds;
        run->reports = m_sim.SettledReportsMoved(reportsBefore + ExpectedReports()) - reportsBefore;
        run->erases = m_sim.Erases() - erasesBefore;
        const char* what = ArmName(arm);
        if (mismatches != 0 || !transported || m_sim.Refused() != 0 || !m_sim.Holds(m_package)) {
            std::fprintf(stderr, "%s: %u mismatches, transport %s, %u refused commands, flash %s\n", what, mismatches,
                         transported ? "ok" : "failed", m_sim.Refused(), m_sim.Holds(m_package) ? "ok" : "wrong");
            return false;
        }
        if (run->reports != ExpectedReports() || run->erases != ExpectedErases()) {
            std::fprintf(stderr, "%s: the device counted %llu reports and %u erases, expected %llu and %llu\n", what,
                         static_cast<unsigned long long>(run->reports), run->erases,
                         static_cast<unsigned long long>(ExpectedReports()),
                         static_cast<unsigned long long>(ExpectedErases()));
            return false;
        }
        return true;
    }

    // Runs every arm once per repetition, the starting arm moving on by one
    // each time, so drift on a shared machine falls on all of them alike.
    // times[a] receives arm a's durations.
    bool Interleaved(const std::vector<Arm>& arms, unsigned reps, std::vector<std::vector<double>>* times)
    {
        times->assign(arms.size(), {});
        for (unsigned rep = 0; rep < reps; ++rep) {
            for (size_t turn = 0; turn < arms.size(); ++turn) {
                const size_t a = (rep + turn) % arms.size();
                Run run;
                if (!Measure(arms[a], &run)) return false;
                (*times)[a].push_back(run.seconds);
            }
        }
        return true;
    }

    const bench::ImageShape& Shape() const { return m_shape; }

private:
    bench::Simulator m_sim;
    std::vector<uint8_t> m_package;
    bench::ImageShape m_shape;
    HWND m_button = nullptr;
};

void PrintImage(const Bench& b)
{
    const bench::ImageShape& s = b.Shape();
    std::printf("image: %u KiB, blocks %u..%u: %u full blocks + %u tail pages, %llu erases, %llu reports moved\n",
                IMAGE_BYTES / 1024, s.first, s.last, s.last - s.first, s.tailPages,
                static_cast<unsigned long long>(b.ExpectedErases()),
                static_cast<unsigned long long>(b.ExpectedReports()));
}

int Paced(int argc, char** argv, std::vector<uint8_t> package)
{
    SimulatorOptions options;
    options.reportDelayUs = bench::Option(argc, argv, "--report-us", 1000);
    options.eraseDelayMs = bench::Option(argc, argv, "--erase-ms", 20);
    const unsigned reps = bench::Option(argc, argv, "--reps", 3);
    Bench b(options, std::move(package));
    if (!b.Start()) return 1;
    PrintImage(b);

    const double bound =
        b.ExpectedReports() * options.reportDelayUs * 1e-6 + b.ExpectedErases() * options.eraseDelayMs * 1e-3;
    const std::vector<Arm> arms = {Arm::PROGRAM, Arm::BARE_TRANSPORT};
    std::vector<std::vector<double>> times;
    if (!b.Interleaved(arms, reps, &times)) return 1;

    std::printf("paced device: %u us per report, %u ms per erase; bound %.3f s (%llu x %u us + %llu x %u ms)\n",
                options.reportDelayUs, options.eraseDelayMs, bound,
                static_cast<unsigned long long>(b.ExpectedReports()), options.reportDelayUs,
                static_cast<unsigned long long>(b.ExpectedErases()), options.eraseDelayMs);
    for (unsigned i = 0; i < reps; ++i)
        std::printf("  run %u: ProgramImage %.3f s (%+.2f %%), bare transport %.3f s (%+.2f %%)\n", i + 1, times[0][i],
                    (times[0][i] / bound - 1) * 100, times[1][i], (times[1][i] / bound - 1) * 100);
    const double program = bench::Median(times[0]), bare = bench::Median(times[1]);
    std::printf("  median ProgramImage   %.3f s: %+.2f %% above the bound\n", program, (program / bound - 1) * 100);
    std::printf("  median bare transport %.3f s: %+.2f %% above the bound\n", bare, (bare / bound - 1) * 100);
    std::printf("  ratio ProgramImage / bare transport: %.4f (fastest runs: %.4f)\n", program / bare,
                bench::Min(times[0]) / bench::Min(times[1]));
    std::printf("  fastest ProgramImage %.3f s: %+.2f %% above the bound\n", bench::Min(times[0]),
                (bench::Min(times[0]) / bound - 1) * 100);
    return 0;
}

// ProgramImage and the bare transport, in turns, on the device the system
// lists. ProgramImage's own read-back compare proves the image arrived.
int PacedOnSystemDevice(int argc, char** argv, const std::vector<uint8_t>& package)
{
    const unsigned reportUs = bench::Option(argc, argv, "--report-us", 1000);
    const unsigned eraseMs = bench::Option(argc, argv, "--erase-ms", 20);
    const unsigned reps = bench::Option(argc, argv, "--reps", 3);
    if (bench::FakesLoaded()) {
        std::fprintf(stderr, "the test-only hid.dll/setupapi.dll are in use: run from a folder without them\n");
        return 1;
    }
    if (Connect() != 1) {
        std::fprintf(stderr, "the system lists no device\n");
        return 1;
    }
    HWND button = bench::MakeProgressButton();
    const bench::ImageShape shape = bench::ShapeOf(package);
    const double bound = bench::ReportsOf(shape) * reportUs * 1e-6 + bench::ErasesOf(shape) * eraseMs * 1e-3;
    std::vector<double> program, bare;
    for (unsigned rep = 0; rep < reps * 2; ++rep) {
        const bool programTurn = rep % 2 == 0;
        uint32_t mismatches = 0;
        bool transported = true;
        double seconds = 0;
        auto work = [&] {
            const double start = bench::Now();
            if (programTurn)
                mismatches = ProgramImage(package.data(), 'A');
            else
                transported = BareTransport(package);
            seconds = bench::Now() - start;
        };
        g_app.updateButton = button;
        bench::RunOnWorker(work);
        if (mismatches != 0 || !transported) {
            std::fprintf(stderr, "%s failed: %u mismatches, transport %s\n", programTurn ? "ProgramImage" : "bare transport",
                         mismatches, transported ? "ok" : "failed");
            return 1;
        }
        (programTurn ? program : bare).push_back(seconds);
    }
    std::printf("system device: %u us per report, %u ms per erase; bound %.3f s (%llu reports, %llu erases)\n", reportUs,
                eraseMs, bound, static_cast<unsigned long long>(bench::ReportsOf(shape)),
                static_cast<unsigned long long>(bench::ErasesOf(shape)));
    const double median = bench::Median(program), bareMedian = bench::Median(bare);
    std::printf("  median ProgramImage   %.3f s: %+.2f %% above the bound\n", median, (median / bound - 1) * 100);
    std::printf("  median bare transport %.3f s: %+.2f %% above the bound\n", bareMedian, (bareMedian / bound - 1) * 100);
    return 0;
}

int Unpaced(int argc, char** argv, std::vector<uint8_t> package)
{
    const unsigned reps = bench::Option(argc, argv, "--reps", 11);
    Bench b(SimulatorOptions(), std::move(package));
    if (!b.Start()) return 1;
    PrintImage(b);

    // One untimed run of each first: pipe instances, pages and caches warm.
    const std::vector<Arm> arms = {Arm::PROGRAM, Arm::PROGRAM_NO_WINDOW, Arm::BARE_TRANSPORT};
    for (Arm arm : arms) {
        Run warm;
        if (!b.Measure(arm, &warm)) return 1;
    }
    std::vector<std::vector<double>> times;
    if (!b.Interleaved(arms, reps, &times)) return 1;

    // Other work on the machine slows the three threads that pass each
    // report (client, pipe server, Wine server) by whole factors at times;
    // the fastest run is the one least disturbed.
    const double reports = static_cast<double>(b.ExpectedReports());
    const double bareMedian = bench::Median(times[2]), bareMin = bench::Min(times[2]);
    std::printf("unpaced device, %u interleaved runs each; median (fastest run), and ratio to the bare transport\n",
                reps);
    for (size_t a = 0; a < arms.size(); ++a) {
        const double median = bench::Median(times[a]), fastest = bench::Min(times[a]);
        std::printf("  %-34s %6.3f s (%6.3f s)  %6.1f (%6.1f) us/report  x%.3f (x%.3f)\n", ArmName(arms[a]), median,
                    fastest, median / reports * 1e6, fastest / reports * 1e6, median / bareMedian, fastest / bareMin);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const bool paced = bench::Flag(argc, argv, "--paced");
    if (paced == bench::Flag(argc, argv, "--unpaced")) {
        std::fprintf(stderr,
                     "usage: program_bench --paced [--system-device] [--report-us N] [--erase-ms N] [--reps N]\n"
                     "       program_bench --unpaced [--reps N]\n");
        return 2;
    }
    std::vector<uint8_t> package = bench::CheckedImagePackage(FIRST_BLOCK, IMAGE_BYTES);
    if (package.empty()) return 1;
    if (paced && bench::Flag(argc, argv, "--system-device")) return PacedOnSystemDevice(argc, argv, package);
    return paced ? Paced(argc, argv, std::move(package)) : Unpaced(argc, argv, std::move(package));
}
