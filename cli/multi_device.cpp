#include "cli/multi_device.h"

#include <cstdio>
#include <thread>

#include "cli/event_output.h"
#include "cli/exit_codes.h"
#include "common/utc_time.h"
#include "update/display_text.h"

namespace {

// Passes every event on and keeps what the closing table needs.
class COutcomeEvents : public CFlashEvents {
public:
    COutcomeEvents(CFlashEvents& inner, DeviceOutcome& outcome) : m_inner(inner), m_outcome(outcome) {}
    void Note(const std::string& text) override { m_inner.Note(text); }
    void Device(const std::string& path, const DeviceInfo& info) override
    {
        if (m_outcome.model.empty()) {
            m_outcome.model = info.modelId;
            m_outcome.versionBefore = info.versionText;
        }
        m_outcome.versionAfter = info.versionText;
        m_inner.Device(path, info);
    }
    void Offered(const Offer& offer) override { m_inner.Offered(offer); }
    void Downloaded(const PlannedImage& image) override { m_inner.Downloaded(image); }
    void ImageStarted(const PlannedImage& image, size_t index, size_t count) override
    {
        m_inner.ImageStarted(image, index, count);
    }
    void Progress(const PlannedImage& image, ImagePhase phase, uint32_t done, double rate) override
    {
        m_inner.Progress(image, phase, done, rate);
    }
    void ImageFinished(const PlannedImage& image, uint32_t mismatches) override
    {
        if (mismatches == 0) m_outcome.images.push_back(image.name);
        m_inner.ImageFinished(image, mismatches);
    }
    void Finished(const std::string& text) override
    {
        m_outcome.text = text;
        m_inner.Finished(text);
    }
    void Failed(const std::string& code, const std::string& text, int exitCode) override
    {
        m_outcome.code = code;
        m_outcome.text = text;
        m_outcome.exitCode = exitCode;
        m_inner.Failed(code, text, exitCode);
    }

private:
    CFlashEvents& m_inner;
    DeviceOutcome& m_outcome;
};

void RunOne(const MultiDeviceRun& run, CImageCache& cache, size_t row, DeviceOutcome& outcome)
{
    outcome.path = run.paths[row];
    std::unique_ptr<CFlashEvents> own = run.eventsFor(outcome.path, row);
    COutcomeEvents events(*own, outcome);
    std::unique_ptr<CReportTransport> device;
    std::string detail;
    const int opened = run.open(outcome.path, device, detail);
    if (opened != EXIT_DONE) {
        events.Failed("", detail, opened);
        outcome.finishedAt = UtcNow();
        return;
    }
    CInterruptibleTransport transport(*device, *run.interrupts);
    uint8_t report[REPORT_SIZE] = {};
    CommandBlock lastCommand{};
    CCommandPort port(transport, report, lastCommand, nullptr);
    SessionSetup setup{&port, run.downloader, &events, run.baseUrl, run.releaseCheck, run.interrupts, &cache};
    setup.directDownloader = run.directDownloader;

    Identity identity;
    int code = IdentifyDevice(setup, outcome.path, identity);
    if (code == EXIT_DONE)
        code = UpdateDevice(setup, identity, run.option, [](const std::vector<PlannedImage>&) {
            return true;  // asked once for the whole run, before any device started
        });
    outcome.exitCode = code;
    // What the device says of itself now.
    if (code == EXIT_DONE && !outcome.images.empty()) {
        uint8_t page[FLASH_PAGE_SIZE] = {};
        if (port.ReadPages(DEVICE_INFO_PAGE, 1, page) >= DEVICE_INFO_SIZE)
            outcome.versionAfter = DecodeDeviceInfo(page).versionText;
    }
    outcome.finishedAt = UtcNow();
}

std::string Pad(const std::string& text, size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size() + 1, ' ');
}

}  // namespace

std::vector<DeviceOutcome> UpdateDevices(const MultiDeviceRun& run)
{
    std::vector<DeviceOutcome> outcomes(run.paths.size());
    CImageCache cache;
    std::vector<std::thread> threads;
    for (size_t row = 0; row < run.paths.size(); ++row)
        threads.emplace_back(RunOne, std::cref(run), std::ref(cache), row, std::ref(outcomes[row]));
    for (std::thread& thread : threads) thread.join();
    return outcomes;
}

int CombinedExitCode(const std::vector<DeviceOutcome>& outcomes)
{
    if (outcomes.empty()) return EXIT_NO_DEVICE;
    int combined = EXIT_DONE;
    for (const DeviceOutcome& outcome : outcomes) {
        if (outcome.exitCode == EXIT_INTERRUPTED) return EXIT_INTERRUPTED;
        if (outcome.exitCode != EXIT_DONE) combined = EXIT_REFUSED;
    }
    return combined;
}

std::string OutcomeTable(const std::vector<DeviceOutcome>& outcomes)
{
    size_t pathWidth = 6;
    for (const DeviceOutcome& o : outcomes) pathWidth = o.path.size() > pathWidth ? o.path.size() : pathWidth;
    std::string table = Pad("DEVICE", pathWidth) + "MODEL BEFORE AFTER  IMAGES                          RESULT\n";
    for (const DeviceOutcome& o : outcomes) {
        std::string images;
        for (const std::string& name : o.images) images += (images.empty() ? "" : ",") + name;
        std::string result;
        if (o.exitCode == EXIT_DONE)
            result = o.images.empty() ? "nothing to do" : "ok";
        else
            result = "exit " + std::to_string(o.exitCode) + (o.code.empty() ? "" : " " + o.code) + ": " + o.text;
        // The model, the names and the text came from the device or the server.
        table += EscapeForTerminal(Pad(o.path, pathWidth) + Pad(o.model.empty() ? "-" : o.model, 5) +
                                   Pad(o.versionBefore.empty() ? "-" : o.versionBefore, 6) +
                                   Pad(o.versionAfter.empty() ? "-" : o.versionAfter, 6) +
                                   Pad(images.empty() ? "-" : images, 32) + result) +
                 "\n";
    }
    return table;
}

std::string OutcomeLogLine(const DeviceOutcome& o)
{
    std::string images = "[";
    for (size_t i = 0; i < o.images.size(); ++i) images += (i ? "," : "") + JsonString(o.images[i]);
    images += "]";
    return "{\"format\":" + std::to_string(JSON_FORMAT_VERSION) + ",\"time\":" + JsonString(o.finishedAt) +
           ",\"device\":" + JsonString(o.path) + ",\"model\":" + JsonString(o.model) +
           ",\"version_before\":" + JsonString(o.versionBefore) + ",\"version_after\":" + JsonString(o.versionAfter) +
           ",\"images\":" + images + ",\"exit\":" + std::to_string(o.exitCode) + ",\"code\":" + JsonString(o.code) +
           ",\"text\":" + JsonString(o.text) + "}";
}
