#pragma once
// Several devices updated at once: one thread and one transport each, the
// release fetched and checked once and shared read-only, a failure on one
// device never stopping the others. Portable (std::thread).
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/flash_events.h"
#include "cli/flash_session.h"

struct DeviceOutcome {
    std::string path;
    std::string model;
    std::string versionBefore;
    std::string versionAfter;
    std::vector<std::string> images;  // programmed and verified
    int exitCode = 0;
    std::string code;        // the window's code of a refusal, e.g. "0403+ 1"
    std::string text;        // the last word: done, nothing to do, or the failure
    std::string finishedAt;  // UTC, ISO 8601
};

struct MultiDeviceRun {
    std::vector<std::string> paths;
    int option = 0;
    std::string baseUrl;
    CDownloader* downloader = nullptr;  // shared, thread-safe
    // Behind the shared one's memo, for a second look at a release whose
    // catalogue and statement disagree; null: `downloader`.
    CDownloader* directDownloader = nullptr;
    CReleaseCheck* releaseCheck = nullptr;
    const std::atomic<int>* interrupts = nullptr;
    // Opens one device; 0, or the exit code of the failure (3, 5) with `detail`.
    std::function<int(const std::string& path, std::unique_ptr<CReportTransport>& transport, std::string& detail)> open;
    // The events of one device (its own line, or its own JSON lines).
    std::function<std::unique_ptr<CFlashEvents>(const std::string& path, size_t row)> eventsFor;
};

// Runs every device to its end; the outcomes in the order of `paths`.
std::vector<DeviceOutcome> UpdateDevices(const MultiDeviceRun& run);

// 0 when every device succeeded or had nothing to do, 130 when interrupted,
// 1 when any was refused or failed, 3 when there were none.
int CombinedExitCode(const std::vector<DeviceOutcome>& outcomes);

// The closing table, one row per device.
std::string OutcomeTable(const std::vector<DeviceOutcome>& outcomes);

// One JSON line for the run's log (format version, time, every field).
std::string OutcomeLogLine(const DeviceOutcome& outcome);
