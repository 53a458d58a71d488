#include "cli/flash_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/exit_codes.h"
#include "common/utf.h"
#include "device/package_header.h"
#include "device/program_sequence.h"
#include "update/buffer_sizes.h"
#include "update/image_plan.h"
#include "update/package.h"
#include "update/release_acceptance.h"
#include "update/release_signing.h"
#include "update/server_layout.h"

namespace {

using Clock = std::chrono::steady_clock;

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

int NetworkExitCode(const DownloadResult& result)
{
    return result.status == DownloadStatus::INTERRUPTED ? EXIT_INTERRUPTED : EXIT_NETWORK;
}

int NetworkFailure(const SessionSetup& setup, const std::string& url, const DownloadResult& result)
{
    const int exitCode = NetworkExitCode(result);
    setup.events->Failed("", NetworkText(url, result), exitCode);
    return exitCode;
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

// Too large is the check's to refuse, as in the window (no body).
bool Arrived(const DownloadResult& got)
{
    return got.status == DownloadStatus::OK || got.status == DownloadStatus::TOO_LARGE;
}

std::string Code(const ReleaseResult& result)
{
    char text[WINDOW_CODE_SIZE];
    FormatWindowCode(result, text);
    return text;
}

// The release core's crypto and memory for one device; unused on a run
// without statement checks.
CStatementSigning DeviceSigning(const SessionSetup& setup, const ReleaseStatement* statement)
{
    return setup.releaseCheck != nullptr ? setup.releaseCheck->Signing(statement)
                                         : CStatementSigning(statement, nullptr, nullptr, 0);
}

// The session's downloads for the release core. The first pair goes through
// the run's memo and the verdicts other devices left; a second pair, fetched
// when a release may have been swapped between the two requests, goes past
// both. Keeps what each step said, for the words of a refusal.
class CSessionReleaseSource : public CReleaseSource {
public:
    CSessionReleaseSource(const SessionSetup& setup, const char* modelId, CStatementSigning* signing)
        : m_setup(setup), m_modelId(modelId), m_signing(signing)
    {
    }

    uint32_t FetchCatalogue(uint8_t* buffer, uint32_t capacity, bool again, bool* stop) override
    {
        m_url = ServerPath(m_setup.baseUrl, ServerFile::CATALOGUE, m_modelId);
        m_got = Downloader(again).Download(m_url, buffer, capacity);
        if (!Arrived(m_got)) {
            *stop = true;
            // Only the first pair's refusal is told, unless a Ctrl-C cut the second short.
            if (again && m_got.status == DownloadStatus::INTERRUPTED)
                m_second = {EXIT_INTERRUPTED, "", NetworkText(m_url, m_got), STATEMENT_MALFORMED, nullptr};
            return NO_BODY;
        }
        return m_got.status == DownloadStatus::OK ? uint32_t(m_got.bytes) : NO_BODY;
    }

    int32_t CheckStatement(const CatalogueFacts& catalogue, bool again) override
    {
        StatementVerdict& verdict = again ? m_second : m_first;
        verdict = m_setup.releaseCheck->CheckCatalogue(Downloader(again), m_setup.baseUrl, m_modelId, catalogue,
                                                       again ? StatementFetch::AGAIN : StatementFetch::SHARED);
        if (verdict.statementCode == STATEMENT_OK) {
            m_accepted = verdict.statement;
            m_signing->Hold(m_accepted.get());
        }
        return verdict.statementCode;
    }

    // The catalogue download that did not arrive.
    int NetworkFailure() const { return ::NetworkFailure(m_setup, m_url, m_got); }
    // The refusal of the statement as the user reads it.
    const StatementVerdict& StatementRefusal() const { return m_second.exitCode == EXIT_INTERRUPTED ? m_second : m_first; }
    std::shared_ptr<const ReleaseStatement> AcceptedStatement() const { return m_accepted; }

private:
    CDownloader& Downloader(bool again) const
    {
        return again && m_setup.directDownloader != nullptr ? *m_setup.directDownloader : *m_setup.downloader;
    }

    const SessionSetup& m_setup;
    const char* m_modelId;
    CStatementSigning* m_signing;
    std::string m_url;
    DownloadResult m_got;
    StatementVerdict m_first, m_second;
    std::shared_ptr<const ReleaseStatement> m_accepted;
};

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

int IdentifyDevice(const SessionSetup& setup, const std::string& path, Identity& out)
{
    out = Identity();
    out.path = path;
    // The record page, read as the window reads it; a device that does not
    // answer is a failure here rather than a model id of zeros.
    uint8_t page[FLASH_PAGE_SIZE] = {};
    if (setup.port->ReadPages(DEVICE_INFO_PAGE, 1, page) < DEVICE_INFO_SIZE) {
        if (Interrupts(setup) >= INTERRUPT_NOW) {
            setup.events->Failed("", "interrupted while reading the device; the device is unchanged", EXIT_INTERRUPTED);
            return EXIT_INTERRUPTED;
        }
        setup.events->Failed("", "the device did not answer the read of its information record", EXIT_REFUSED);
        return EXIT_REFUSED;
    }
    out.info = DecodeDeviceInfo(page);
    setup.events->Device(path, out.info);
    if (AcceptDevice(out.info).verdict != ReleaseVerdict::ACCEPTED) {
        setup.events->Failed("",
                             "this updater is out of date for the device (updater level " +
                                 std::to_string(out.info.updaterLevel) + "); get the newest updater",
                             EXIT_REFUSED);
        return EXIT_REFUSED;
    }
    // The model id names the catalogue and the statement in their URLs: an
    // id the publisher could never have used would only make the record
    // choose another path or query on the server, so nothing is asked.
    if (!FollowsIdRule(out.info.modelId)) {
        setup.events->Failed("",
                             "the device's model id \"" + std::string(out.info.modelId, 4) +
                                 "\" is not 4 characters from A-Z a-z 0-9 . _ -; no catalogue is asked for it",
                             EXIT_REFUSED);
        return EXIT_REFUSED;
    }

    std::vector<uint8_t> buffer(CATALOGUE_BUFFER_SIZE, 0);
    CStatementSigning signing = DeviceSigning(setup, nullptr);
    CSessionReleaseSource source(setup, out.info.modelId, &signing);
    const ReleaseResult result = AcceptCatalogue(source, out.info.modelId, &out.info,
                                                 setup.releaseCheck != nullptr ? &signing : nullptr, buffer.data(),
                                                 &out.walk);
    switch (result.verdict) {
    case ReleaseVerdict::ACCEPTED:
        out.statement = source.AcceptedStatement();
        return EXIT_DONE;
    case ReleaseVerdict::NOT_FETCHED:
        return source.NetworkFailure();
    case ReleaseVerdict::STATEMENT_REFUSED: {
        // The statement's own refusals come with the check's words; the
        // refusals against this client's memory and the device, with these.
        if (result.code == STATEMENT_SUPERSEDED || result.code == STATEMENT_BASE_IMAGE_OLDER) {
            setup.events->Failed(Code(result), StatementRefusalText(result.code), EXIT_REFUSED);
            return EXIT_REFUSED;
        }
        const StatementVerdict& told = source.StatementRefusal();
        setup.events->Failed(told.code, told.text, told.exitCode);
        return told.exitCode;
    }
    case ReleaseVerdict::HISTORY_FAILED:
        setup.events->Failed(Code(result),
                             std::string("cannot ") + (result.code == HISTORY_UNREADABLE ? "read" : "write") +
                                 " the record of accepted releases in " + setup.releaseCheck->HistoryPlace() +
                                 "; nothing was erased (give another place with --state DIR)",
                             EXIT_REFUSED);
        return EXIT_REFUSED;
    case ReleaseVerdict::CATALOGUE_STALE:
        setup.events->Failed("", "the server's data is out of date; try another server", EXIT_REFUSED);
        return EXIT_REFUSED;
    case ReleaseVerdict::UPDATER_OUTDATED:
        setup.events->Failed("", "this updater is out of date for the server's data; get the newest updater", EXIT_REFUSED);
        return EXIT_REFUSED;
    case ReleaseVerdict::CATALOGUE_REFUSED:
        setup.events->Failed(Code(result), RefusalText("the catalogue was", result.code), EXIT_REFUSED);
        return EXIT_REFUSED;
    default:
        setup.events->Failed("", "the server sent an empty catalogue", EXIT_REFUSED);
        return EXIT_REFUSED;
    }
}

Offer MakeOffer(const Identity& identity)
{
    Offer offer;
    for (int32_t line = 0; line < identity.walk.optionLineCount; ++line)
        offer.optionLines.push_back(Utf16ToUtf8(identity.walk.optionLines[line]));
    for (int32_t i = 0; i < identity.walk.count && i < 2; ++i)
        (identity.walk.entries[i].size == 0 ? offer.skippedBases : offer.neededBases)
            .push_back(identity.walk.entries[i].name);
    return offer;
}

std::vector<PlannedImage> PlanImages(const Identity& identity, int option)
{
    std::vector<PlannedImage> images;
    int32_t plan[MAX_CATALOGUE_ENTRIES];
    const int32_t planned = PlanImages(identity.walk.entries, identity.walk.count,
                                       ChosenEntry(option, identity.walk.optionLineCount), plan);
    for (int32_t step = 0; step < planned; ++step) {
        const int32_t i = plan[step];
        const CatalogueEntry& entry = identity.walk.entries[i];
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
    auto buffer = std::make_shared<std::vector<uint8_t>>(ImageBufferCapacity(entry.size), 0);
    const std::string url = ServerPath(setup.baseUrl, ServerFile::IMAGE, entry.name);
    const DownloadResult got = setup.downloader->Download(url, buffer->data(), buffer->size());
    if (!Arrived(got)) {
        fetched.exitCode = NetworkExitCode(got);
        fetched.text = NetworkText(url, got);
        return fetched;
    }
    const uint32_t length = got.status == DownloadStatus::OK ? uint32_t(got.bytes) : NO_BODY;
    // Signed releases: held against the statement accepted with the catalogue.
    const CStatementSigning signing = DeviceSigning(setup, identity.statement.get());
    const ReleaseResult result = AcceptImage(setup.releaseCheck != nullptr ? &signing : nullptr, index, entry,
                                             buffer->data(), length, uint32_t(buffer->size()));
    if (result.verdict == ReleaseVerdict::IMAGE_NOT_SIGNED) {
        fetched.exitCode = EXIT_REFUSED;
        fetched.code = Code(result);
        fetched.text = "image " + std::string(entry.name) + " (" + std::to_string(length) +
                       " bytes) is not the file the release statement signs; nothing was erased";
        return fetched;
    }
    if (result.verdict != ReleaseVerdict::ACCEPTED) {
        fetched.exitCode = EXIT_REFUSED;
        fetched.code = Code(result);
        fetched.text = RefusalText(("image " + std::string(entry.name) + " was").c_str(), result.code);
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
    if (fetched.exitCode != EXIT_DONE && fetched.exitCode != EXIT_REFUSED) m_images.erase(key);
    m_finished.notify_all();
    return fetched;
}

int UpdateDevice(const SessionSetup& setup, const Identity& identity, int option, const ConfirmErase& confirm)
{
    if (option > 0 && option >= identity.walk.optionLineCount) {
        setup.events->Failed("",
                             "there is no option line " + std::to_string(option) + " (the server offers " +
                                 std::to_string(identity.walk.optionLineCount) + ")",
                             EXIT_USAGE);
        return EXIT_USAGE;
    }
    std::vector<PlannedImage> images = PlanImages(identity, option);
    if (images.empty()) {
        setup.events->Finished("nothing to do: the device already carries every image it needs");
        return EXIT_DONE;
    }

    // Every image is fetched and checked before the first erase, so a refused
    // or unsigned image never leaves the device half-updated.
    std::vector<std::shared_ptr<const std::vector<uint8_t>>> packages;
    for (PlannedImage& image : images) {
        const FetchedImage fetched = setup.imageCache != nullptr ? setup.imageCache->Fetch(setup, identity, image.entry)
                                                                 : FetchImage(setup, identity, image.entry);
        if (fetched.exitCode != EXIT_DONE) {
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
        setup.events->Failed("", "interrupted before any erase; the device is unchanged", EXIT_INTERRUPTED);
        return EXIT_INTERRUPTED;
    }
    if (!confirm(images)) {
        if (Interrupts(setup) > 0) {
            setup.events->Failed("", "interrupted before any erase; the device is unchanged", EXIT_INTERRUPTED);
            return EXIT_INTERRUPTED;
        }
        setup.events->Failed("", "not confirmed; nothing was erased", EXIT_REFUSED);
        return EXIT_REFUSED;
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
                                 EXIT_INTERRUPTED);
            return EXIT_INTERRUPTED;
        }
        setup.events->ImageFinished(image, outcome.mismatches);
        if (outcome.mismatches != 0) {
            setup.events->Failed(Code({ReleaseVerdict::IMAGE_NOT_VERIFIED, image.entry}),
                                 "image " + image.name + " did not verify: " + std::to_string(image.size) + " bytes, " +
                                     std::to_string(outcome.mismatches) + " differ on read-back",
                                 EXIT_REFUSED);
            return EXIT_REFUSED;
        }
        if (Interrupts(setup) > 0 && i + 1 < images.size()) {
            setup.events->Failed("",
                                 "interrupted: image " + image.name + " is complete, " + NameList(images, i + 1) +
                                     " not programmed; running the update again completes the device",
                                 EXIT_INTERRUPTED);
            return EXIT_INTERRUPTED;
        }
    }

    // As the window does once its box is closed: the device may now leave.
    setup.port->SendTestCommand(TEST_FINISH, TEST_FINISH);
    setup.events->Finished("done: " + std::to_string(images.size()) + (images.size() == 1 ? " image" : " images") +
                           " programmed and verified; the device can be unplugged");
    return EXIT_DONE;
}
