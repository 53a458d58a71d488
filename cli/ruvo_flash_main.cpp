// ruvo-flash: the command-line updater on the program's portable core.
// Commands, output and exit codes: docs/cli.md.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/console.h"
#include "cli/device_access.h"
#include "cli/event_output.h"
#include "cli/exit_codes.h"
#include "cli/flash_options.h"
#include "cli/flash_session.h"
#include "cli/memo_downloader.h"
#include "cli/multi_device.h"
#include "cli/public_key_file.h"
#include "cli/release_history_default.h"
#include "cli/statement_check.h"
#include "cli/version_text.h"
#include "ruvo_revision.h"
#include "update/display_text.h"
#include "update/release_history_folder.h"
#include "update/release_keys.h"
#include "update/update_base_url.h"

namespace {

std::atomic<int> g_interrupts{0};

void DiagnosticToStderr(const char* line)
{
    std::fputs(line, stderr);
}

// A device's transport that also keeps the opened device alive.
class CHeldTransport : public CReportTransport {
public:
    explicit CHeldTransport(std::shared_ptr<OpenedDevice> device) : m_device(std::move(device)) {}
    int ReadReport(uint8_t* buffer, uint32_t* count) override { return m_device->transport->ReadReport(buffer, count); }
    int WriteReport(const uint8_t* buffer, uint32_t* count) override
    {
        return m_device->transport->WriteReport(buffer, count);
    }

private:
    std::shared_ptr<OpenedDevice> m_device;
};

int OpenExitCode(OpenStatus status)
{
    switch (status) {
    case OpenStatus::OK:
        return EXIT_DONE;
    case OpenStatus::NOT_FOUND:
        return EXIT_NO_DEVICE;
    case OpenStatus::IN_USE:
        return EXIT_IN_USE;
    case OpenStatus::NO_ACCESS:
    case OpenStatus::FAILED:
        break;
    }
    return EXIT_NO_ACCESS;
}

int OpenFailure(OpenStatus status, const std::string& detail, CFlashEvents& events)
{
    const int code = OpenExitCode(status);
    events.Failed("", detail, code);
    return code;
}

// One opened device with its command port, interruptible.
struct Connection {
    OpenedDevice device;
    std::unique_ptr<CInterruptibleTransport> transport;
    uint8_t report[REPORT_SIZE] = {};
    CommandBlock lastCommand{};
    std::unique_ptr<CCommandPort> port;
};

int Connect(const std::string& path, Connection& connection, CFlashEvents& events)
{
    std::string detail;
    const OpenStatus status = OpenDevicePath(path, connection.device, detail);
    if (status != OpenStatus::OK) return OpenFailure(status, detail, events);
    connection.transport = std::make_unique<CInterruptibleTransport>(*connection.device.transport, g_interrupts);
    connection.port = std::make_unique<CCommandPort>(*connection.transport, connection.report, connection.lastCommand,
                                                     DiagnosticToStderr);
    return EXIT_DONE;
}

int List(const FlashOptions& options, const SessionSetup& base, CFlashEvents& events)
{
    const std::vector<std::string> paths = options.devices.empty() ? ListDevicePaths() : options.devices;
    if (paths.empty()) {
        events.Failed("", "no device found (USB 0416:F362); is it plugged in?", EXIT_NO_DEVICE);
        return EXIT_NO_DEVICE;
    }
    int result = EXIT_DONE;
    for (const std::string& path : paths) {
        Connection connection;
        const int opened = Connect(path, connection, events);
        if (opened != EXIT_DONE) {
            result = opened;
            continue;
        }
        uint8_t page[FLASH_PAGE_SIZE] = {};
        if (connection.port->ReadPages(DEVICE_INFO_PAGE, 1, page) < DEVICE_INFO_SIZE) {
            events.Failed("", path + ": the device did not answer the read of its information record", EXIT_REFUSED);
            result = EXIT_REFUSED;
            continue;
        }
        events.Device(path, DecodeDeviceInfo(page));
    }
    (void)base;
    return result;
}

// The device to use: --device, or the first match, saying so when there are several.
bool ChooseDevice(const FlashOptions& options, CFlashEvents& events, std::string& path)
{
    if (!options.devices.empty()) {
        path = options.devices.front();
        return true;
    }
    const std::vector<std::string> paths = ListDevicePaths();
    if (paths.empty()) return false;
    path = paths.front();
    if (paths.size() > 1)
        events.Note(std::to_string(paths.size()) + " devices found; using the first, " + path +
                    " (choose one with --device)");
    return true;
}

bool AskBeforeErase(const std::vector<PlannedImage>& images, const std::string& path)
{
    std::string names;
    // The names are the server's: shown escaped, as everything it sends.
    for (const PlannedImage& image : images) names += (names.empty() ? "" : ", ") + EscapeForTerminal(image.name);
    std::fprintf(stderr, "Erase and program %zu image%s (%s) into %s? [y/N] ", images.size(),
                 images.size() == 1 ? "" : "s", names.c_str(), path.c_str());
    std::fflush(stderr);
    char answer[16] = "";
    if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

bool AskBeforeEraseAll(const std::vector<std::string>& paths)
{
    std::fprintf(stderr, "Update %zu devices at once (", paths.size());
    for (size_t i = 0; i < paths.size(); ++i) std::fprintf(stderr, "%s%s", i ? ", " : "", paths[i].c_str());
    std::fprintf(stderr, ")? [y/N] ");
    std::fflush(stderr);
    char answer[16] = "";
    if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

int UpdateMany(const FlashOptions& options, OutputStyle style, const SessionSetup& base,
               const DownloadDeadline& deadline)
{
    std::vector<std::string> paths;
    if (options.all) paths = ListDevicePaths();
    for (const std::string& path : options.devices)
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    if (paths.empty()) {
        std::fprintf(stderr, "ruvo-flash: no device found (USB 0416:F362); is it plugged in?\n");
        return EXIT_NO_DEVICE;
    }
    if (!options.yes && !AskBeforeEraseAll(paths)) {
        std::fprintf(stderr, "ruvo-flash: %s\n",
                     g_interrupts.load() > 0 ? "interrupted before any erase" : "not confirmed; nothing was erased");
        return g_interrupts.load() > 0 ? EXIT_INTERRUPTED : EXIT_REFUSED;
    }

    FILE* log = nullptr;
    if (!options.logFile.empty() && (log = std::fopen(options.logFile.c_str(), "a")) == nullptr) {
        std::fprintf(stderr, "ruvo-flash: cannot append to %s\n", options.logFile.c_str());
        return EXIT_USAGE;
    }

    CMemoDownloader shared(*base.downloader, deadline);
    CProgressBoard board(stderr, paths.size());
    MultiDeviceRun run;
    run.paths = paths;
    run.option = options.option;
    run.baseUrl = base.baseUrl;
    run.downloader = &shared;
    run.directDownloader = base.downloader;
    run.releaseCheck = base.releaseCheck;
    run.interrupts = &g_interrupts;
    run.open = [](const std::string& path, std::unique_ptr<CReportTransport>& transport, std::string& detail) {
        auto device = std::make_shared<OpenedDevice>();
        const OpenStatus status = OpenDevicePath(path, *device, detail);
        if (status != OpenStatus::OK) return OpenExitCode(status);
        transport = std::make_unique<CHeldTransport>(device);
        return 0;
    };
    run.eventsFor = [&](const std::string& path, size_t row) {
        return MakeDeviceEventOutput(style, stdout, stderr, path, row, &board);
    };
    const std::vector<DeviceOutcome> outcomes = UpdateDevices(run);

    if (style != OutputStyle::JSON) std::fprintf(stdout, "\n%s", OutcomeTable(outcomes).c_str());
    if (log != nullptr) {
        for (const DeviceOutcome& outcome : outcomes) std::fprintf(log, "%s\n", OutcomeLogLine(outcome).c_str());
        std::fclose(log);
    }
    return CombinedExitCode(outcomes);
}

// The statement check of this run: --key replaces the compiled-in keys
// (and --threshold their threshold); with neither, releases are not signed.
// False (with the reason) when a key file cannot be used.
bool MakeReleaseCheck(const FlashOptions& options, CReleaseHistory& history, const std::string& historyPlace,
                      std::unique_ptr<CReleaseCheck>& check, std::string& error)
{
    std::vector<ReleaseKey> keys;
    for (const std::string& keyFile : options.keyFiles) {
        uint8_t point[P256_POINT_LENGTH];
        ReleaseKey key{};
        if (!ReadPublicKeyFile(keyFile, point, error)) return false;
        if (!MakeReleaseKey(point, key)) {
            error = "cannot compute the key id of \"" + keyFile + "\"";
            return false;
        }
        // A key given twice would count twice towards nothing: say so.
        for (const ReleaseKey& given : keys)
            if (std::memcmp(given.keyId, key.keyId, RELEASE_KEY_ID_LENGTH) == 0) {
                error = "\"" + keyFile + "\" repeats key " + KeyIdText(key.keyId);
                return false;
            }
        keys.push_back(key);
        // Never silent: on a signed build this replaces its own keys.
        if (SIGNED_RELEASES)
            std::fprintf(stderr, "ruvo-flash: --trust-key: trusting key %s from %s instead of the built-in keys\n",
                         KeyIdText(key.keyId).c_str(), keyFile.c_str());
    }
    int32_t threshold = options.threshold > 0 ? options.threshold : 1;
    if (keys.empty() && SIGNED_RELEASES) {
        keys.assign(RELEASE_KEYS, RELEASE_KEYS + RELEASE_KEY_COUNT);
        threshold = RELEASE_KEY_THRESHOLD;
    }
    if (!keys.empty()) check = std::make_unique<CStatementCheck>(std::move(keys), threshold, &history, historyPlace);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    FlashOptions options;
    std::string error;
    if (!ParseFlashOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "ruvo-flash: %s\n%s", error.c_str(), FLASH_USAGE);
        return EXIT_USAGE;
    }
    if (options.command == FlashCommand::HELP) {
        std::fputs(FLASH_USAGE, stdout);
        return EXIT_DONE;
    }
    if (options.command == FlashCommand::VERSION) {
        std::fputs(VersionText(RUVO_VERSION, RUVO_REVISION, UPDATE_BASE_URL, RELEASE_KEYS, RELEASE_KEY_COUNT,
                                 RELEASE_KEY_THRESHOLD).c_str(), stdout);
        return EXIT_DONE;
    }
    if (!CheckTrustOptions(options, SIGNED_RELEASES, error)) {
        std::fprintf(stderr, "ruvo-flash: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    std::unique_ptr<CReleaseHistory> history;
    std::string historyPlace;
    if (options.stateDir.empty()) {
        history = DefaultReleaseHistory(historyPlace);
    } else {
        history = std::make_unique<CFolderHistory>(options.stateDir);
        historyPlace = options.stateDir;
    }
    std::unique_ptr<CReleaseCheck> releaseCheck;
    if (!MakeReleaseCheck(options, *history, historyPlace, releaseCheck, error)) {
        std::fprintf(stderr, "ruvo-flash: --key: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    // Tests shorten the download deadlines (docs/cli.md), so that a
    // slow-server case takes seconds rather than minutes.
    DownloadDeadline deadline;
    const char* deadlineText = std::getenv("RUVO_FLASH_DEADLINE");
    if (deadlineText != nullptr && !ParseDownloadDeadline(deadlineText, deadline)) {
        std::fprintf(stderr, "ruvo-flash: RUVO_FLASH_DEADLINE: FLOOR_MS,BYTES_PER_SECOND, not \"%s\"\n", deadlineText);
        return EXIT_USAGE;
    }
    const bool terminal = StderrIsTerminal();
    if (options.command == FlashCommand::UPDATE && !options.yes && !StdinIsTerminal()) {
        std::fprintf(stderr, "ruvo-flash: no terminal to ask before erasing; add --yes to update without asking\n");
        return EXIT_USAGE;
    }

    InstallInterruptHandler(g_interrupts);
    if (!InitialiseConsole()) {
        std::fprintf(stderr, "ruvo-flash: the network library cannot start\n");
        return EXIT_NETWORK;
    }
    const OutputStyle style = options.json ? OutputStyle::JSON : terminal ? OutputStyle::TERMINAL : OutputStyle::PLAIN;
    std::unique_ptr<CFlashEvents> events = MakeEventOutput(style, stdout, stderr);
    std::unique_ptr<CDownloader> downloader = MakeDownloader(&g_interrupts, deadline);
    SessionSetup setup{nullptr,
                       downloader.get(),
                       events.get(),
                       options.baseUrl.empty() ? std::string(UPDATE_BASE_URL) : options.baseUrl,
                       releaseCheck.get(),
                       &g_interrupts};

    if (options.command == FlashCommand::LIST) return List(options, setup, *events);
    if (ManyDevices(options)) return UpdateMany(options, style, setup, deadline);

    std::string path;
    if (!ChooseDevice(options, *events, path)) {
        events->Failed("", "no device found (USB 0416:F362); is it plugged in?", EXIT_NO_DEVICE);
        return EXIT_NO_DEVICE;
    }
    Connection connection;
    const int opened = Connect(path, connection, *events);
    if (opened != EXIT_DONE) return opened;
    setup.port = connection.port.get();

    Identity identity;
    const int identified = IdentifyDevice(setup, path, identity);
    if (identified != EXIT_DONE) return identified;
    if (options.command == FlashCommand::INFO) {
        events->Offered(MakeOffer(identity));
        return EXIT_DONE;
    }
    return UpdateDevice(setup, identity, options.option, [&](const std::vector<PlannedImage>& images) {
        return options.yes || AskBeforeErase(images, path);
    });
}
