#pragma once
// The decisions and steps of one device's update, made as the window makes
// them, over any report transport and downloader: identify the device, fetch
// and check its catalogue, plan the images (the base images unless the
// device carries them, and option line K), fetch and check each, program and
// verify each, then the finish command. Portable; results are exit codes and
// events, never boxes.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/downloader.h"
#include "cli/flash_events.h"
#include "cli/release_check.h"
#include "device/command_port.h"
#include "update/catalogue.h"
#include "update/device_info.h"

// Ctrl-C levels: the first finishes the current image, the second stops
// after the current report exchange.
constexpr int INTERRUPT_AFTER_IMAGE = 1;
constexpr int INTERRUPT_NOW = 2;

// Fails every transfer once the second interrupt has come, so the command
// operations end after the report in flight and leave nothing pending.
class CInterruptibleTransport : public CReportTransport {
public:
    CInterruptibleTransport(CReportTransport& inner, const std::atomic<int>& interrupts)
        : m_inner(inner), m_interrupts(interrupts)
    {
    }
    int ReadReport(uint8_t* buffer, uint32_t* count) override;
    int WriteReport(const uint8_t* buffer, uint32_t* count) override;

private:
    CReportTransport& m_inner;
    const std::atomic<int>& m_interrupts;
};

class CImageCache;

struct SessionSetup {
    CCommandPort* port;
    CDownloader* downloader;
    CFlashEvents* events;
    std::string baseUrl;                 // ends in '/'
    CReleaseCheck* releaseCheck;         // null: releases are not signed
    const std::atomic<int>* interrupts;  // Ctrl-C count
    CImageCache* imageCache = nullptr;   // shared by the devices of one run; null: fetch per device
    // The downloader behind any memo of the run: a release whose catalogue
    // and statement disagree is fetched again through it. Null: `downloader`.
    CDownloader* directDownloader = nullptr;
};

// An image package fetched and checked, held read-only.
struct FetchedImage {
    int exitCode = 0;  // 0, or the exit code of the refusal or failure
    std::string code;  // the window's code, e.g. "0402 -4"
    std::string text;
    std::shared_ptr<const std::vector<uint8_t>> package;
    uint32_t length = 0;
};

struct Identity {
    std::string path;
    DeviceInfo info;
    CatalogueWalk walk;                                 // entries with the skip rules applied
    std::shared_ptr<const ReleaseStatement> statement;  // signed releases: the one accepted with the catalogue
};

// Downloads the package of catalogue entry `index` of the identified device
// and checks it: against its release statement first (signed releases),
// then the package check.
FetchedImage FetchImage(const SessionSetup& setup, const Identity& identity, int32_t index);

// Images fetched and checked once per run and shared read-only by every
// device's thread.
// Each image is downloaded and checked once for all the devices of a run.
// A device waits only for the image it needs, and only for the fetch under
// way, which its own deadline bounds: it takes that fetch's result, failure
// included. A failure that may pass (unreachable, interrupted) is not kept,
// so a device that asks later tries again.
class CImageCache {
public:
    FetchedImage Fetch(const SessionSetup& setup, const Identity& identity, int32_t index);

private:
    struct Slot {
        bool done = false;
        FetchedImage image;
    };
    std::mutex m_mutex;
    std::condition_variable m_finished;
    std::map<std::string, std::shared_ptr<Slot>> m_images;
};

// Reads the device's record and the model's catalogue. Returns an exit code;
// on any but 0 the reason went to the events.
int IdentifyDevice(const SessionSetup& setup, const std::string& path, Identity& out);

// What the server offers the identified device, in the window's words.
Offer MakeOffer(const Identity& identity);

// The images to program for option line `option`, in table order.
std::vector<PlannedImage> PlanImages(const Identity& identity, int option);

// Downloads and checks every planned image, asks `confirm` once before the
// first erase (false ends with exit 1, nothing erased), programs and verifies
// each, then sends the finish command. Returns an exit code.
using ConfirmErase = std::function<bool(const std::vector<PlannedImage>& images)>;
int UpdateDevice(const SessionSetup& setup, const Identity& identity, int option, const ConfirmErase& confirm);
