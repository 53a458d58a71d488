#include "cli/flash_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "device/package_header.h"
#include "device/program_sequence.h"
#include "update/package.h"
#include "update/release_crypto.h"
#include "update/release_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

char ImageLetter(int entry)
{
    return entry == 0 ? 'T' : entry == 1 ? 'V' : 'C';
}

int Interrupts(const SessionSetup& setup)
{
    return setup.interrupts != nullptr ? setup.interrupts->load() : 0;
}

std::string NetworkText(const std::string& url, const DownloadResult& result)
{
    if (result.status == DownloadStatus::INTERRUPTED)
        return "interrupted during a download, before any erase; the device is unchanged";
    return std::string("network (") + DownloadStatusName(result.status) + "): " + url + ": " + result.message;
}

int NetworkFailure(const SessionSetup& setup, const std::string& url, const DownloadResult& result)
{
    if (result.status == DownloadStatus::INTERRUPTED) {
        setup.events->Failed("", "interrupted during a download, before any erase; the device is unchanged", 130);
        return 130;
    }
    setup.events->Failed(
        "", std::string("network (") + DownloadStatusName(result.status) + "): " + url + ": " + result.message, 4);
    return 4;
}

// The package check's words for a refusal.
std::string RefusalText(const char* what, int32_t code)
{
    const bool walk = code <= CATALOGUE_NO_BUFFER && code >= CATALOGUE_TRUNCATED;
    return std::string(what) + " refused: " + (walk ? CatalogueResultName(code) : PackageResultName(code)) + ", " +
           (walk ? CatalogueResultMeaning(code) : PackageResultMeaning(code));
}

// Progress of one image, in blocks per phase, with the device traffic rate.
class CSessionProgress : public CProgressSink {
public:
    CSessionProgress(const SessionSetup& setup, const PlannedImage& image)
        : m_setup(setup), m_image(image), m_start(Clock::now())
    {
    }
    void ImageBegun(uint32_t) override { Report(ImagePhase::WRITE, 0); }
    void BlockWritten(uint32_t) override { Report(ImagePhase::WRITE, ++m_written); }
    void LastBlockWritten() override { Report(ImagePhase::WRITE, ++m_written); }
    void BlockVerified(uint32_t) override { Report(ImagePhase::VERIFY, ++m_verified); }
    void ImageVerified() override { Report(ImagePhase::VERIFY, ++m_verified); }
    bool StopRequested() override { return Interrupts(m_setup) >= INTERRUPT_NOW; }

private:
    void Report(ImagePhase phase, uint32_t done)
    {
        const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        // The last block carries only the tail: no phase counts more than the image's data.
        const double data = m_image.size > PACKAGE_HEADER_LENGTH ? double(m_image.size - PACKAGE_HEADER_LENGTH) : 0.0;
        const double bytes = std::min(double(m_written) * FLASH_BLOCK_SIZE, data) +
                             std::min(double(m_verified) * FLASH_BLOCK_SIZE, data);
        m_setup.events->Progress(m_image, phase, done, seconds > 0 ? bytes / seconds : 0.0);
    }
    const SessionSetup& m_setup;
    const PlannedImage& m_image;
    Clock::time_point m_start;
    uint32_t m_written = 0;
    uint32_t m_verified = 0;
};

std::string NameList(const std::vector<PlannedImage>& images, size_t from)
{
    std::string names;
    for (size_t i = from; i < images.size(); ++i) names += (names.empty() ? "" : ", ") + images[i].name;
    return names;
}

// One fetch of a model's catalogue into `buffer`, and the package check's
// code for it. Signed releases hash it exactly as downloaded, before the
// check decodes it in place.
struct FetchedCatalogue {
    std::string url;
    DownloadResult got;
    int32_t code = PACKAGE_OK;
    CatalogueFacts facts{};
};

// Too large is the check's to refuse, as in the window (-1 as a length).
bool Arrived(const DownloadResult& got)
{
    return got.status == DownloadStatus::OK || got.status == DownloadStatus::TOO_LARGE;
}

FetchedCatalogue FetchCatalogue(const SessionSetup& setup, CDownloader& downloader, const char* modelId,
                                std::vector<uint8_t>& buffer)
{
    FetchedCatalogue fetched;
    fetched.url = setup.baseUrl + "Door/" + modelId + ".Bin";
    fetched.got = downloader.Download(fetched.url, buffer.data(), buffer.size());
    if (!Arrived(fetched.got)) return fetched;
    const uint32_t length = fetched.got.status == DownloadStatus::OK ? uint32_t(fetched.got.bytes) : UINT32_MAX;
    if (setup.releaseCheck != nullptr) {
        if (fetched.got.status == DownloadStatus::OK) {
            fetched.facts.length = length;
            Sha256(buffer.data(), length, fetched.facts.sha256);
        }
        fetched.facts.decoded = buffer.data();
        fetched.facts.capacity = CATALOGUE_MAX_LENGTH;  // as the window walks it for the statement
    }
    fetched.code = CheckPackage(PACKAGE_CATALOGUE, buffer.data(), length, modelId, buffer.size());
    return fetched;
}

// Signed releases: the catalogue and its statement fetched anew, past the
// run's memo and the verdicts other devices left. On a verdict that accepts,
// `buffer` holds that catalogue.
ReleaseVerdict FetchPairAgain(const SessionSetup& setup, const char* modelId, std::vector<uint8_t>& buffer)
{
    CDownloader& direct = setup.directDownloader != nullptr ? *setup.directDownloader : *setup.downloader;
    std::vector<uint8_t> again(CATALOGUE_BUFFER_SIZE, 0);
    const FetchedCatalogue catalogue = FetchCatalogue(setup, direct, modelId, again);
    if (catalogue.got.status == DownloadStatus::INTERRUPTED)
        return {130, "", NetworkText(catalogue.url, catalogue.got), STATEMENT_MALFORMED, nullptr};
    // Only the first pair's refusal is told, so this one needs no words.
    if (!Arrived(catalogue.got) || catalogue.code != PACKAGE_OK) return {1, "", "", STATEMENT_MALFORMED, nullptr};
    ReleaseVerdict verdict =
        setup.releaseCheck->CheckCatalogue(direct, setup.baseUrl, modelId, catalogue.facts, StatementFetch::AGAIN);
    if (verdict.exitCode == 0) buffer.swap(again);
    return verdict;
}

// Signed releases: the statement of the catalogue in `buffer` must hold. A
// pair that a release swapped between the two requests may have split is
// fetched again (update/release_pair.h), and `buffer` may then hold the
// second catalogue. Returns an exit code; on 0 the identity keeps the
// accepted statement.
int HoldStatement(const SessionSetup& setup, const CatalogueFacts& catalogue, std::vector<uint8_t>& buffer,
                  Identity& out)
{
    const char* model = out.info.modelId;
    ReleaseVerdict first, second;
    const int32_t code = CheckReleasePair(
        [&] {
            first = setup.releaseCheck->CheckCatalogue(*setup.downloader, setup.baseUrl, model, catalogue,
                                                       StatementFetch::SHARED);
            return first.statementCode;
        },
        [&] {
            second = FetchPairAgain(setup, model, buffer);
            return second.statementCode;
        });
    // The second pair speaks when it holds, or when a Ctrl-C cut it short;
    // otherwise the first pair's refusal stands as it reads.
    const bool secondSpeaks = second.exitCode == 130 || (code == STATEMENT_OK && second.statement != nullptr);
    const ReleaseVerdict& told = secondSpeaks ? second : first;
    if (told.exitCode != 0) {
        setup.events->Failed(told.code, told.text, told.exitCode);
        return told.exitCode;
    }
    out.statement = told.statement;
    return 0;
}

}  // namespace

int CInterruptibleTransport::ReadReport(uint8_t* buffer, uint32_t* count)
{
    if (m_interrupts.load() >= INTERRUPT_NOW) {
        if (count != nullptr) *count = 0;
        return 0;
    }
    return m_inner.ReadReport(buffer, count);
}

int CInterruptibleTransport::WriteReport(const uint8_t* buffer, uint32_t* count)
{
    if (m_interrupts.load() >= INTERRUPT_NOW) {
        if (count != nullptr) *count = 0;
        return 0;
    }
    return m_inner.WriteReport(buffer, count);
}

std::string WindowCode(const char* format, int a)
{
    char text[32];
    std::snprintf(text, sizeof text, format, a);
    return text;
}

std::string Utf8(const char16_t* text)
{
    std::string out;
    for (; *text != 0; ++text) {
        uint32_t c = *text;
        if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(text[1]) - 0xDC00);
            ++text;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int IdentifyDevice(const SessionSetup& setup, const std::string& path, Identity& out)
{
    out = Identity();
    out.path = path;
    // The record page, read as the window reads it; a device that does not
    // answer is a failure here rather than a model id of zeros.
    uint8_t page[FLASH_PAGE_SIZE] = {};
    if (setup.port->ReadPages(DEVICE_INFO_PAGE, 1, page) < DEVICE_INFO_SIZE) {
        if (Interrupts(setup) >= INTERRUPT_NOW) {
            setup.events->Failed("", "interrupted while reading the device; the device is unchanged", 130);
            return 130;
        }
        setup.events->Failed("", "the device did not answer the read of its information record", 1);
        return 1;
    }
    out.info = DecodeDeviceInfo(page);
    setup.events->Device(path, out.info);
    if (out.info.updaterLevel > MAX_UPDATER_LEVEL) {
        setup.events->Failed("",
                             "this updater is out of date for the device (updater level " +
                                 std::to_string(out.info.updaterLevel) + "); get the newest updater",
                             1);
        return 1;
    }
    // The model id names the catalogue and the statement in their URLs: an
    // id the publisher could never have used would only make the record
    // choose another path or query on the server, so nothing is asked.
    if (!FollowsIdRule(out.info.modelId)) {
        setup.events->Failed("",
                             "the device's model id \"" + std::string(out.info.modelId, 4) +
                                 "\" is not 4 characters from A-Z a-z 0-9 . _ -; no catalogue is asked for it",
                             1);
        return 1;
    }

    std::vector<uint8_t> buffer(CATALOGUE_BUFFER_SIZE, 0);
    const FetchedCatalogue catalogue = FetchCatalogue(setup, *setup.downloader, out.info.modelId, buffer);
    if (!Arrived(catalogue.got)) return NetworkFailure(setup, catalogue.url, catalogue.got);
    if (catalogue.code != PACKAGE_OK) {
        setup.events->Failed(WindowCode("0302 %2d", catalogue.code), RefusalText("the catalogue was", catalogue.code),
                             1);
        return 1;
    }
    // Nothing of the catalogue is used before its publisher's statement holds.
    if (setup.releaseCheck != nullptr) {
        const int held = HoldStatement(setup, catalogue.facts, buffer, out);
        if (held != 0) return held;
    }
    const uint8_t status = reinterpret_cast<const PackageHeader*>(buffer.data())->status;
    if (status < CATALOGUE_STATUS_CURRENT) {
        setup.events->Failed("", "the server's data is out of date; try another server", 1);
        return 1;
    }
    if (status > CATALOGUE_STATUS_CURRENT) {
        setup.events->Failed("", "this updater is out of date for the server's data; get the newest updater", 1);
        return 1;
    }
    const int32_t walkCode = WalkCatalogue(buffer.data(), buffer.size(), &out.walk);
    if (walkCode != CATALOGUE_OK) {
        setup.events->Failed(WindowCode("0302 %2d", walkCode), RefusalText("the catalogue was", walkCode), 1);
        return 1;
    }
    ApplySkipRules(out.walk.entries, out.walk.count, out.walk.comparisonText, out.info.deviceVersion,
                   out.info.deviceSecondVersion);
    return 0;
}

Offer MakeOffer(const Identity& identity)
{
    Offer offer;
    for (int32_t line = 0; line < identity.walk.optionLineCount; ++line)
        offer.optionLines.push_back(Utf8(identity.walk.optionLines[line]));
    for (int32_t i = 0; i < identity.walk.count && i < 2; ++i)
        (identity.walk.entries[i].size == 0 ? offer.skippedBases : offer.neededBases)
            .push_back(identity.walk.entries[i].name);
    return offer;
}

std::vector<PlannedImage> PlanImages(const Identity& identity, int option)
{
    std::vector<PlannedImage> images;
    // Line k stands for entry k + 2; with no lines no optional image qualifies.
    const int chosen = option < identity.walk.optionLineCount ? option + 2 : 1;
    for (int32_t i = 0; i < identity.walk.count; ++i) {
        const CatalogueEntry& entry = identity.walk.entries[i];
        if (entry.size == 0 || (i >= 2 && i != chosen)) continue;
        PlannedImage image;
        image.entry = i;
        image.name = entry.name;
        image.letter = ImageLetter(i);
        images.push_back(image);
    }
    return images;
}

FetchedImage FetchImage(const SessionSetup& setup, const Identity& identity, int32_t index)
{
    const CatalogueEntry& entry = identity.walk.entries[index];
    FetchedImage fetched;
    auto buffer = std::make_shared<std::vector<uint8_t>>(uint32_t(entry.size) + IMAGE_BUFFER_SLACK, 0);
    const std::string url = setup.baseUrl + "Pool/" + entry.name;
    const DownloadResult got = setup.downloader->Download(url, buffer->data(), buffer->size());
    if (got.status != DownloadStatus::OK && got.status != DownloadStatus::TOO_LARGE) {
        fetched.exitCode = got.status == DownloadStatus::INTERRUPTED ? 130 : 4;
        fetched.text = NetworkText(url, got);
        return fetched;
    }
    const uint32_t length = got.status == DownloadStatus::OK ? uint32_t(got.bytes) : UINT32_MAX;
    // Signed releases: the very file the publisher signed, before the check
    // decodes it. A body too large for the buffer keeps its path to 0402, as
    // the window's failed download does.
    if (setup.releaseCheck != nullptr && got.status == DownloadStatus::OK) {
        const ReleaseVerdict verdict =
            setup.releaseCheck->CheckImage(identity.statement.get(), index, entry.name, buffer->data(), length);
        if (verdict.exitCode != 0) {
            fetched.exitCode = verdict.exitCode;
            fetched.code = verdict.code;
            fetched.text = verdict.text;
            return fetched;
        }
    }
    char id[5] = {};
    std::memcpy(id, entry.name + 2, 4);
    const int32_t code = CheckPackage(PACKAGE_IMAGE, buffer->data(), length, id, buffer->size());
    if (code != PACKAGE_OK) {
        fetched.exitCode = 1;
        fetched.code = WindowCode("0402 %2d", code);
        fetched.text = RefusalText(("image " + std::string(entry.name) + " was").c_str(), code);
        return fetched;
    }
    fetched.length = length;
    fetched.package = std::move(buffer);
    return fetched;
}

FetchedImage CImageCache::Fetch(const SessionSetup& setup, const Identity& identity, int32_t index)
{
    // Model, entry and, for a signed release, the hash its statement names
    // make the key: devices share an image only when each would accept it.
    const CatalogueEntry& entry = identity.walk.entries[index];
    std::string key = std::string(identity.info.modelId) + "/" + std::to_string(index) + "/" + entry.name + "#" +
                      std::to_string(entry.size);
    if (identity.statement != nullptr && index < identity.statement->recordCount)
        key.append(reinterpret_cast<const char*>(identity.statement->records[index].sha256), SHA256_LENGTH);
    std::unique_lock<std::mutex> lock(m_mutex);
    std::shared_ptr<Slot>& found = m_images[key];
    if (found) {
        const std::shared_ptr<Slot> slot = found;
        m_finished.wait(lock, [&] { return slot->done; });
        return slot->image;
    }
    const std::shared_ptr<Slot> slot = found = std::make_shared<Slot>();
    lock.unlock();
    const FetchedImage fetched = FetchImage(setup, identity, index);
    lock.lock();
    slot->image = fetched;
    slot->done = true;
    if (fetched.exitCode != 0 && fetched.exitCode != 1) m_images.erase(key);
    m_finished.notify_all();
    return fetched;
}

int UpdateDevice(const SessionSetup& setup, const Identity& identity, int option, const ConfirmErase& confirm)
{
    if (option > 0 && option >= identity.walk.optionLineCount) {
        setup.events->Failed("",
                             "there is no option line " + std::to_string(option) + " (the server offers " +
                                 std::to_string(identity.walk.optionLineCount) + ")",
                             2);
        return 2;
    }
    std::vector<PlannedImage> images = PlanImages(identity, option);
    if (images.empty()) {
        setup.events->Finished("nothing to do: the device already carries every image it needs");
        return 0;
    }

    // Every image is fetched and checked before the first erase, so a refused
    // or unsigned image never leaves the device half-updated.
    std::vector<std::shared_ptr<const std::vector<uint8_t>>> packages;
    for (PlannedImage& image : images) {
        const FetchedImage fetched = setup.imageCache != nullptr ? setup.imageCache->Fetch(setup, identity, image.entry)
                                                                 : FetchImage(setup, identity, image.entry);
        if (fetched.exitCode != 0) {
            setup.events->Failed(fetched.code, fetched.text, fetched.exitCode);
            return fetched.exitCode;
        }
        const PackageHeader& header = *reinterpret_cast<const PackageHeader*>(fetched.package->data());
        image.size = fetched.length;
        image.blocks = uint32_t(PackageLastBlock(header) - PackageFirstBlock(header) + 1);
        setup.events->Downloaded(image);
        packages.push_back(fetched.package);
    }

    if (Interrupts(setup) > 0) {
        setup.events->Failed("", "interrupted before any erase; the device is unchanged", 130);
        return 130;
    }
    if (!confirm(images)) {
        if (Interrupts(setup) > 0) {
            setup.events->Failed("", "interrupted before any erase; the device is unchanged", 130);
            return 130;
        }
        setup.events->Failed("", "not confirmed; nothing was erased", 1);
        return 1;
    }

    for (size_t i = 0; i < images.size(); ++i) {
        const PlannedImage& image = images[i];
        setup.events->ImageStarted(image, i, images.size());
        CSessionProgress progress(setup, image);
        const ProgramOutcome outcome = RunProgramSequence(*setup.port, packages[i]->data(), progress);
        if (outcome.stopped || Interrupts(setup) >= INTERRUPT_NOW) {
            setup.events->Failed("",
                                 "interrupted: image " + image.name + " (" + std::to_string(i + 1) + " of " +
                                     std::to_string(images.size()) +
                                     ") was cut short; running the update again completes the device",
                                 130);
            return 130;
        }
        setup.events->ImageFinished(image, outcome.mismatches);
        if (outcome.mismatches != 0) {
            setup.events->Failed(WindowCode("0403+%2d", image.entry),
                                 "image " + image.name + " did not verify: " + std::to_string(image.size) + " bytes, " +
                                     std::to_string(outcome.mismatches) + " differ on read-back",
                                 1);
            return 1;
        }
        if (Interrupts(setup) > 0 && i + 1 < images.size()) {
            setup.events->Failed("",
                                 "interrupted: image " + image.name + " is complete, " + NameList(images, i + 1) +
                                     " not programmed; running the update again completes the device",
                                 130);
            return 130;
        }
    }

    // As the window does once its box is closed: the device may now leave.
    setup.port->SendTestCommand(TEST_FINISH, TEST_FINISH);
    setup.events->Finished("done: " + std::to_string(images.size()) + (images.size() == 1 ? " image" : " images") +
                           " programmed and verified; the device can be unplugged");
    return 0;
}
