#pragma once
// What ruvo-flash tells its user, as events: the front end turns them into a
// progress bar, plain lines or JSON lines. Portable.
#include <cstdint>
#include <string>
#include <vector>

#include "update/catalogue.h"
#include "update/device_info.h"

enum class ImagePhase { WRITE, VERIFY };  // erase and write, then verify

struct PlannedImage {
    int entry;          // catalogue entry index
    std::string name;   // package file name on the server
    char letter;        // T, V or C, as the window tags its progress
    uint32_t size = 0;  // package bytes
    uint32_t blocks = 0;
};

struct Offer {
    std::vector<std::string> optionLines;   // as the window's list shows them (UTF-8)
    std::vector<std::string> skippedBases;  // names of base images the device already carries
    std::vector<std::string> neededBases;
};

class CFlashEvents {
public:
    virtual ~CFlashEvents() = default;
    virtual void Note(const std::string& text) = 0;  // a plain remark ("using device X")
    virtual void Device(const std::string& path, const DeviceInfo& info) = 0;
    virtual void Offered(const Offer& offer) = 0;
    virtual void Downloaded(const PlannedImage& image) = 0;
    virtual void ImageStarted(const PlannedImage& image, size_t index, size_t count) = 0;
    // Blocks done of the image's total in this phase; bytes/s of the device traffic so far.
    virtual void Progress(const PlannedImage& image, ImagePhase phase, uint32_t done, double bytesPerSecond) = 0;
    virtual void ImageFinished(const PlannedImage& image, uint32_t mismatches) = 0;
    virtual void Finished(const std::string& text) = 0;  // success or nothing to do
    // A refusal or failure: the window's code where it has one ("0402 -4"), the text, the exit code.
    virtual void Failed(const std::string& code, const std::string& text, int exitCode) = 0;
};
