// One device's update on the portable core: the simulator core in-process,
// a release served from memory. The window's decisions, its codes in the
// refusals, nothing erased before every image is checked, and both Ctrl-C
// levels.
#include "cli/flash_session.h"
#include "cli/memo_downloader.h"
#include "cli/multi_device.h"
#include "cli/statement_check.h"
#include "tools/ruvo-pack/signing.h"
#include "tests/support/memory_history.h"
#include "tools/simulator/in_process_device.h"
#include "update/package_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const char BASE[] = "http://server/BRELM/";

struct FakeServer : CDownloader {
    std::map<std::string, Bytes> files;
    std::vector<std::string> requests;
    // Runs once each answer is in the buffer: the server may change its files between two requests.
    std::function<void(FakeServer&)> afterRequest;
    std::mutex mutex;  // devices of one run fetch different files at once
    DownloadResult Download(const std::string& url, uint8_t* destination, size_t capacity) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(url.substr(sizeof BASE - 1));
        const DownloadResult result = Answer(url, destination, capacity);
        if (afterRequest) afterRequest(*this);
        return result;
    }
    DownloadResult Answer(const std::string& url, uint8_t* destination, size_t capacity)
    {
        const auto found = files.find(url);
        if (found == files.end()) return {DownloadStatus::CONNECT, 0, "refused"};
        if (found->second.size() > capacity) return {DownloadStatus::TOO_LARGE, 0, ""};
        std::copy(found->second.begin(), found->second.end(), destination);
        return {DownloadStatus::OK, found->second.size(), ""};
    }
    void Put(const std::string& path, const Bytes& bytes) { files[BASE + path] = bytes; }
    size_t Count(const std::string& path) const { return size_t(std::count(requests.begin(), requests.end(), path)); }
};

struct RecordingEvents : CFlashEvents {
    std::vector<std::string> lines;
    std::string failure;
    int failureExit = -1;
    std::function<void(const std::string&)> onEvent;
    void Add(const std::string& line)
    {
        lines.push_back(line);
        if (onEvent) onEvent(line);
    }
    void Note(const std::string& text) override { Add("note " + text); }
    void Device(const std::string&, const DeviceInfo& info) override { Add(std::string("device ") + info.modelId); }
    void Offered(const Offer&) override { Add("offer"); }
    void Downloaded(const PlannedImage& image) override { Add("fetched " + image.name); }
    void ImageStarted(const PlannedImage& image, size_t, size_t) override { Add("image " + image.name); }
    void Progress(const PlannedImage& image, ImagePhase phase, uint32_t done, double) override
    {
        Add("progress " + image.name + (phase == ImagePhase::WRITE ? " write " : " verify ") + std::to_string(done));
    }
    void ImageFinished(const PlannedImage& image, uint32_t mismatches) override
    {
        Add("verified " + image.name + " " + std::to_string(mismatches));
    }
    void Finished(const std::string& text) override { Add("finished " + text); }
    void Failed(const std::string& code, const std::string& text, int exitCode) override
    {
        failure = code.empty() ? text : code + ": " + text;
        failureExit = exitCode;
        Add("failed");
    }
};

Bytes Firmware(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 31 + seed + (i >> 8));
    return bytes;
}

struct Image {
    std::string name;
    uint32_t firstBlock;
    Bytes firmware;
    Bytes package;
};

// Model R100: two base images and two option lines; the device carries
// version 0x20 and second version "ABC", so both bases are needed.
struct Release {
    std::vector<Image> images;
    Bytes catalogue;
    explicit Release(const std::vector<std::pair<std::string, uint32_t>>& names = {
                         {"BTR122.bin", 0}, {"BVRABD.bin", 16}, {"OPR0TW.bin", 64}, {"OPR0HK.bin", 64}})
    {
        std::vector<CatalogueRecordInput> records;
        uint8_t seed = 1;
        for (const auto& [name, first] : names) {
            Image image{name, first, Firmware(5000 + 3000 * seed, seed), {}};
            std::string error;
            EXPECT_TRUE(BuildImagePackage(name.substr(2, 4).c_str(), first, image.firmware, &image.package, &error))
                << error;
            records.push_back({name, uint32_t(image.package.size()), u"區域包 " + std::u16string(1, u'0' + seed)});
            images.push_back(image);
            ++seed;
        }
        std::string error;
        EXPECT_TRUE(BuildCataloguePackage("R100", 2, records, &catalogue, &error)) << error;
    }
    void Publish(FakeServer& server) const
    {
        server.Put("Door/R100.Bin", catalogue);
        for (const Image& image : images) server.Put("Pool/" + image.name, image.package);
    }
};

const uint8_t INFO[DEVICE_INFO_SIZE] = {0x20, 3, 0x0A, 0x1F, 'A', 'B', 'C', 1, 0, 0, 0, 0, 'R', '1', '0', '0'};

struct Bench {
    explicit Bench(const SimulatorOptions& options = SimulatorOptions()) : device(options)
    {
        device.device.SetInfoRecord(INFO);
        release.Publish(server);
    }
    Release release;
    FakeServer server;
    CInProcessDevice device;
    std::atomic<int> interrupts{0};
    CInterruptibleTransport transport{device, interrupts};
    uint8_t report[REPORT_SIZE] = {};
    CommandBlock last{};
    CCommandPort port{transport, report, last, nullptr};
    RecordingEvents events;
    SessionSetup setup{&port, &server, &events, BASE, nullptr, &interrupts};
    int confirmations = 0;

    int Update(int option = 0, bool confirm = true)
    {
        Identity identity;
        const int identified = IdentifyDevice(setup, "sim:test", identity);
        if (identified != 0) return identified;
        return UpdateDevice(setup, identity, option, [&](const std::vector<PlannedImage>&) {
            ++confirmations;
            return confirm;
        });
    }
    bool FlashHolds(const Image& image) const
    {
        const uint8_t* flash = device.device.Flash() + size_t(image.firstBlock) * FLASH_BLOCK_SIZE;
        return std::equal(image.firmware.begin(), image.firmware.end(), flash);
    }
    // The device's command log without the record read.
    std::vector<std::string> Commands() const { return {device.log.begin() + 1, device.log.end()}; }
};

TEST(FlashSession, UpdatesAsTheWindowDecides)
{
    Bench bench;
    EXPECT_EQ(bench.Update(1), 0) << bench.events.failure;
    EXPECT_EQ(bench.server.requests,
              (std::vector<std::string>{"Door/R100.Bin", "Pool/BTR122.bin", "Pool/BVRABD.bin", "Pool/OPR0HK.bin"}));
    EXPECT_TRUE(bench.FlashHolds(bench.release.images[0]));
    EXPECT_TRUE(bench.FlashHolds(bench.release.images[1]));
    EXPECT_TRUE(bench.FlashHolds(bench.release.images[3]));
    EXPECT_EQ(bench.device.log.front(), "READ 8175 1");
    // The finish command comes last, after every image was verified.
    EXPECT_EQ(bench.device.log.back(), "TEST FCB19055 FCB19055");
    EXPECT_EQ(bench.confirmations, 1);
    EXPECT_EQ(bench.events.lines.back().rfind("finished done: 3 images", 0), 0u);
}

TEST(FlashSession, SkipsTheBaseImagesTheDeviceCarries)
{
    Bench bench;
    uint8_t info[DEVICE_INFO_SIZE];
    std::memcpy(info, INFO, sizeof info);
    info[0] = 0x22;  // entry 0 is "BTR122": version 22
    info[6] = 'D';   // entry 1 is "BVRABD": second version ABD
    bench.device.device.SetInfoRecord(info);
    EXPECT_EQ(bench.Update(0), 0) << bench.events.failure;
    EXPECT_EQ(bench.server.requests, (std::vector<std::string>{"Door/R100.Bin", "Pool/OPR0TW.bin"}));

    Release bases({{"BTR122.bin", 0}, {"BVRABD.bin", 16}});
    Bench nothing;
    nothing.server.files.clear();
    bases.Publish(nothing.server);
    nothing.device.device.SetInfoRecord(info);
    EXPECT_EQ(nothing.Update(0), 0);
    EXPECT_EQ(nothing.events.lines.back().rfind("finished nothing to do", 0), 0u);
    EXPECT_EQ(nothing.device.log, std::vector<std::string>{"READ 8175 1"});  // no finish command
}

// The record's model id names files on the server: one that the publisher's
// id rule could never have made is refused before any request.
TEST(FlashSession, AModelIdOutsideTheIdRuleNeverReachesAUrl)
{
    const uint8_t ids[][4] = {{0x1B, '[', '2', 'J'}, {'.', '.', '/', 'x'},  {'R', '1', '?', 'a'},
                              {'R', '1', 0, 0},      {'R', 0x9B, '0', '0'}, {'R', '%', '2', 'F'}};
    for (const auto& id : ids) {
        Bench bench;
        uint8_t info[DEVICE_INFO_SIZE];
        std::memcpy(info, INFO, sizeof info);
        std::memcpy(info + 12, id, 4);
        bench.device.device.SetInfoRecord(info);
        const std::string model(reinterpret_cast<const char*>(id), 4);
        EXPECT_EQ(bench.Update(), 1) << model;
        EXPECT_EQ(bench.server.requests, std::vector<std::string>{}) << model;
        EXPECT_EQ(bench.events.failure,
                  "the device's model id \"" + model +
                      "\" is not 4 characters from A-Z a-z 0-9 . _ -; no catalogue is asked for it");
        EXPECT_EQ(bench.device.log, std::vector<std::string>{"READ 8175 1"}) << model;
    }
}

TEST(FlashSession, RefusalsCarryTheWindowsCodesAndEraseNothing)
{
    struct Case {
        const char* name;
        std::function<void(Bench&)> spoil;
        int exitCode;
        const char* failure;  // start of the message
    };
    const Case cases[] = {
        {"catalogue of another model",
         [](Bench& b) {
             std::string error;
             BuildCataloguePackage("R200", 2, {{"BTR122.bin", 100, u"x"}},
                                   &b.server.files[std::string(BASE) + "Door/R100.Bin"], &error);
         },
         1, "0302 -7: "},
        {"second image corrupted", [](Bench& b) { b.server.files[std::string(BASE) + "Pool/BVRABD.bin"][40] ^= 0x01; },
         1, "0402 -4: "},
        {"404 page for an image",
         [](Bench& b) {
             const std::string page = "<html>404 Not Found</html>";
             b.server.files[std::string(BASE) + "Pool/OPR0TW.bin"] = Bytes(page.begin(), page.end());
         },
         1, "0402 -7: "},  // the check compares the id first
        {"server down", [](Bench& b) { b.server.files.clear(); }, 4, "network (connect)"},
        {"image larger than announced",
         [](Bench& b) { b.server.files[std::string(BASE) + "Pool/BTR122.bin"].resize(40000); }, 1, "0402 "},
        {"no such option line", [](Bench&) {}, 2, "there is no option line 3"},
    };
    for (const Case& c : cases) {
        Bench bench;
        c.spoil(bench);
        const int option = std::string(c.name) == "no such option line" ? 3 : 0;
        EXPECT_EQ(bench.Update(option), c.exitCode) << c.name;
        EXPECT_EQ(bench.events.failure.rfind(c.failure, 0), 0u) << c.name << ": " << bench.events.failure;
        EXPECT_EQ(bench.events.failureExit, c.exitCode) << c.name;
        EXPECT_EQ(bench.confirmations, 0) << c.name;
        EXPECT_EQ(bench.device.log, std::vector<std::string>{"READ 8175 1"}) << c.name;
    }
}

TEST(FlashSession, DeclinedQuestionErasesNothing)
{
    Bench bench;
    EXPECT_EQ(bench.Update(0, false), 1);
    EXPECT_EQ(bench.events.failure, "not confirmed; nothing was erased");
    EXPECT_EQ(bench.device.log, std::vector<std::string>{"READ 8175 1"});
}

TEST(FlashSession, CorruptReadBackIsReportedWithItsEntry)
{
    SimulatorOptions options;
    options.corruptReadBack = true;
    options.corruptOffset = 16 * FLASH_BLOCK_SIZE + 7;  // inside BVRABD, entry 1
    options.corruptLength = 3;
    Bench bench(options);
    EXPECT_EQ(bench.Update(0), 1);
    EXPECT_EQ(bench.events.failure.rfind("0403+ 1: image BVRABD.bin did not verify", 0), 0u) << bench.events.failure;
    EXPECT_NE(bench.events.failure.find("3 differ"), std::string::npos) << bench.events.failure;
    EXPECT_NE(bench.device.log.back(), "TEST FCB19055 FCB19055");
}

TEST(FlashSession, FirstInterruptFinishesTheCurrentImage)
{
    Bench bench;
    // Ctrl-C as the first image's writing begins.
    bench.events.onEvent = [&](const std::string& line) {
        if (line == "progress BTR122.bin write 1") bench.interrupts = 1;
    };
    EXPECT_EQ(bench.Update(0), 130);
    EXPECT_TRUE(bench.FlashHolds(bench.release.images[0]));
    EXPECT_NE(bench.events.failure.find("BTR122.bin is complete, BVRABD.bin, OPR0TW.bin not programmed"),
              std::string::npos)
        << bench.events.failure;
    EXPECT_EQ(bench.Commands().back(), "READ 16 16");  // the tail of image 1 was read back, nothing after
}

TEST(FlashSession, SecondInterruptStopsAfterTheReportInFlight)
{
    Bench bench;
    bench.events.onEvent = [&](const std::string& line) {
        if (line == "progress BVRABD.bin write 1") bench.interrupts = 2;
    };
    EXPECT_EQ(bench.Update(0), 130);
    EXPECT_NE(bench.events.failure.find("image BVRABD.bin (2 of 3) was cut short"), std::string::npos)
        << bench.events.failure;
    // Block 64 (first of image 2) was written; nothing was sent after it.
    EXPECT_EQ(bench.Commands().back(), "WRITE 256 16");
    EXPECT_FALSE(bench.device.device.InWriteDataPhase());
    // Running again completes the device.
    Bench again;
    std::memcpy(again.device.device.Flash(), bench.device.device.Flash(), FLASH_SIZE);
    EXPECT_EQ(again.Update(0), 0);
    EXPECT_TRUE(again.FlashHolds(again.release.images[1]));
}

// A device that hangs mid-write (takes no further report) fails the image
// with its code instead of stopping the run.
TEST(FlashSession, HungDeviceFailsTheImage)
{
    SimulatorOptions options;
    options.hangAfter = 40;  // inside the first block's data
    Bench bench(options);
    EXPECT_EQ(bench.Update(0), 1);
    EXPECT_EQ(bench.events.failure.rfind("0403+ 0: image BTR122.bin did not verify", 0), 0u) << bench.events.failure;
    EXPECT_TRUE(bench.device.device.Hung());
    EXPECT_FALSE(bench.device.device.Unplugged());
    // The device took nothing after the hang: of the 40 reports moved, some were its answers.
    EXPECT_LT(bench.device.written.size(), 40u);
    EXPECT_EQ(bench.device.device.ReportsMoved(), 40u);
    EXPECT_NE(bench.device.log.back(), "TEST FCB19055 FCB19055");
}

// --- signed releases ---------------------------------------------------------

const std::string KEY_A = std::string(TEST_KEYS_DIR) + "/test-only-release-key-a";
const std::string KEY_B = std::string(TEST_KEYS_DIR) + "/test-only-release-key-b";

const std::string KEY_C = std::string(TEST_KEYS_DIR) + "/test-only-release-key-c";
// Serial 5, expiring in a day.
StatementTerms Terms(uint64_t serial = 5, int64_t expiresIn = 86400)
{
    return {STATEMENT_FORMAT_2, serial, uint64_t(int64_t(std::time(nullptr)) + expiresIn)};
}

// The statement of `release` as ruvo-pack publishes it, signed with `key`.
Bytes Statement(const Release& release, const std::string& key = KEY_A, const std::string& model = "R100",
                const Bytes* catalogue = nullptr, size_t imageCount = SIZE_MAX, const StatementTerms& terms = Terms(),
                std::vector<std::string> keys = {})
{
    if (keys.empty()) keys = {key};
    for (std::string& pem : keys) pem += ".pem";
    std::vector<StatementImage> images;
    for (const Image& image : release.images)
        if (images.size() < imageCount) images.push_back({image.name, &image.package});
    Bytes statement;
    std::string error;
    EXPECT_TRUE(MakeSignedStatement(keys, terms, model, catalogue ? *catalogue : release.catalogue, images,
                                    &statement, &error))
        << error;
    return statement;
}

std::vector<ReleaseKey> Trusted(const std::vector<std::string>& keys = {KEY_A})
{
    std::vector<ReleaseKey> trusted;
    for (const std::string& key : keys) {
        uint8_t point[P256_POINT_LENGTH];
        std::string error;
        EXPECT_TRUE(LoadPublicKey(key + ".pub.pem", point, &error)) << error;
        trusted.emplace_back();
        EXPECT_TRUE(MakeReleaseKey(point, trusted.back()));
    }
    return trusted;
}

// The same package at the same size with one firmware byte changed: its XOR
// and sum bytes are right, so only the statement's hash can tell.
Bytes ChangedPackage(const Image& image)
{
    Bytes firmware = image.firmware;
    firmware[100] ^= 0x01;
    Bytes package;
    std::string error;
    EXPECT_TRUE(BuildImagePackage(image.name.substr(2, 4).c_str(), image.firstBlock, firmware, &package, &error))
        << error;
    EXPECT_EQ(package.size(), image.package.size());
    return package;
}

struct SignedBench : Bench {
    explicit SignedBench(const std::vector<std::string>& trusted = {KEY_A}, int32_t threshold = 1)
        : check(Trusted(trusted), threshold, &history, "memory")
    {
        server.Put("Door/R100.Sig2", Statement(release));
        setup.releaseCheck = &check;
    }
    // The serial this client remembers for R100, 0 for none.
    uint64_t Remembered() const
    {
        return history.records.empty() ? 0 : history.records.begin()->second.serial;
    }
    CMemoryHistory history;
    CStatementCheck check;
};

TEST(SignedRelease, SignedUpdateChecksTheStatementAfterTheCatalogue)
{
    SignedBench bench;
    EXPECT_EQ(bench.Update(1), 0) << bench.events.failure;
    EXPECT_EQ(bench.Remembered(), 5u);
    EXPECT_EQ(bench.server.requests, (std::vector<std::string>{"Door/R100.Bin", "Door/R100.Sig2", "Pool/BTR122.bin",
                                                               "Pool/BVRABD.bin", "Pool/OPR0HK.bin"}));
    EXPECT_TRUE(bench.FlashHolds(bench.release.images[0]));
    EXPECT_TRUE(bench.FlashHolds(bench.release.images[1]));
    EXPECT_TRUE(bench.FlashHolds(bench.release.images[3]));
}

// Stores serial `serial` of another release as the newest `bench` accepted.
void Remember(SignedBench& bench, uint64_t serial)
{
    char name[HISTORY_NAME_SIZE];
    const std::vector<ReleaseKey> keys = Trusted();
    ASSERT_TRUE(HistoryName("R100", keys.data(), keys.size(), name));
    bench.history.records[name] = {serial, {0x5A}};
}

// Each refusal carries the window's code, stops before any erase, and a
// statement refusal stops before any image is fetched.
TEST(SignedRelease, RefusalsCarryTheWindowsCodesAndEraseNothing)
{
    struct Case {
        const char* name;
        std::function<void(SignedBench&)> spoil;
        int exitCode;
        const char* failure;  // start of the message
    };
    auto sig = [](SignedBench& b) -> Bytes& { return b.server.files[std::string(BASE) + "Door/R100.Sig2"]; };
    const Case cases[] = {
        {"no statement (the server's 404 page)",
         [&](SignedBench& b) {
             const std::string page = "<html>404 Not Found</html>";
             sig(b) = Bytes(page.begin(), page.end());
         },
         1, "0303 -1: "},
        {"statement one byte too long", [&](SignedBench& b) { sig(b).push_back(0); }, 1, "0303 -1: "},
        {"statement download fails", [&](SignedBench& b) { b.server.files.erase(std::string(BASE) + "Door/R100.Sig2"); },
         4, "0303 -1: network (connect)"},
        {"signed by another key", [&](SignedBench& b) { sig(b) = Statement(b.release, KEY_B); }, 1, "0303 -2: "},
        {"signature spoiled", [&](SignedBench& b) { sig(b)[sig(b).size() - 5] ^= 0x10; }, 1, "0303 -2: "},
        {"another model's statement", [&](SignedBench& b) { sig(b) = Statement(b.release, KEY_A, "R200"); }, 1,
         "0303 -3: "},
        {"catalogue changed after signing",
         [&](SignedBench& b) {
             Bytes other;
             std::string error;
             std::vector<CatalogueRecordInput> records;
             for (const Image& image : b.release.images)
                 records.push_back({image.name, uint32_t(image.package.size()), u"另一行"});
             EXPECT_TRUE(BuildCataloguePackage("R100", 2, records, &other, &error)) << error;
             sig(b) = Statement(b.release, KEY_A, "R100", &other);
         },
         1, "0303 -4: "},
        {"statement's records differ from the catalogue's",
         [&](SignedBench& b) { sig(b) = Statement(b.release, KEY_A, "R100", nullptr, 3); }, 1, "0303 -5: "},
        {"image 1 changed after signing",
         [&](SignedBench& b) { b.server.Put("Pool/BVRABD.bin", ChangedPackage(b.release.images[1])); }, 1,
         "0404+ 1: image BVRABD.bin"},
        {"expired an hour ago",
         [&](SignedBench& b) { sig(b) = Statement(b.release, KEY_A, "R100", nullptr, SIZE_MAX, Terms(5, -3600)); }, 1,
         "0303 -6: "},
        {"older than the release this client accepted",
         [&](SignedBench& b) { Remember(b, 6); }, 1,
         "0303 -7: "},
        {"base image 0 older than the device's",
         [&](SignedBench& b) {
             uint8_t info[DEVICE_INFO_SIZE];
             std::memcpy(info, INFO, sizeof info);
             info[0] = 0x23;  // entry 0 is "BTR122": version 22
             b.device.device.SetInfoRecord(info);
         },
         1, "0303 -8: "},
        {"a record of accepted releases that cannot be read", [&](SignedBench& b) { b.history.readFails = true; }, 1,
         "0304 -1: cannot read the record of accepted releases in memory"},
        {"a record of accepted releases that cannot be written", [&](SignedBench& b) { b.history.writeFails = true; },
         1, "0304 -2: cannot write"},
        // The statement is held before the package check, as in the window.
        {"image 0 corrupted", [&](SignedBench& b) { b.server.files[std::string(BASE) + "Pool/BTR122.bin"][40] ^= 1; },
         1, "0404+ 0: "},
    };
    for (const Case& c : cases) {
        SignedBench bench;
        c.spoil(bench);
        EXPECT_EQ(bench.Update(0), c.exitCode) << c.name;
        EXPECT_EQ(bench.events.failure.rfind(c.failure, 0), 0u) << c.name << ": " << bench.events.failure;
        EXPECT_EQ(bench.events.failureExit, c.exitCode) << c.name;
        EXPECT_EQ(bench.confirmations, 0) << c.name;
        EXPECT_EQ(bench.device.log, std::vector<std::string>{"READ 8175 1"}) << c.name;
        // A statement refusal comes before any image is fetched; one that a
        // release swapped between the two requests may explain comes after
        // a second catalogue and statement.
        const std::string failure = c.failure;
        const bool pairFetchedTwice = failure.rfind("0303 -4", 0) == 0 || failure.rfind("0303 -5", 0) == 0;
        if (failure.rfind("0303", 0) == 0 || failure.rfind("0304", 0) == 0)
            EXPECT_EQ(bench.server.requests.size(), pairFetchedTwice ? 4u : 2u) << c.name;
        else
            EXPECT_GT(bench.server.requests.size(), 2u) << c.name;
    }
}

// The newest accepted release is remembered: a replay of an older one is
// refused before anything is erased, the same release again and a newer one
// are taken, and only the newer one raises the record.
TEST(SignedRelease, AcceptedReleasesAreRememberedAndAReplayIsRefused)
{
    SignedBench bench;
    const std::string sig = std::string(BASE) + "Door/R100.Sig2";
    const struct {
        const char* what;
        uint64_t serial;
        int exitCode;
        uint64_t remembered;
    } steps[] = {
        {"serial 5", 5, 0, 5},
        {"serial 5 again", 5, 0, 5},
        {"a replay of serial 4", 4, 1, 5},
        {"serial 6", 6, 0, 6},
    };
    for (const auto& step : steps) {
        bench.server.files[sig] = Statement(bench.release, KEY_A, "R100", nullptr, SIZE_MAX, Terms(step.serial));
        // Each step a run of its own, over the one record.
        CStatementCheck run(Trusted(), 1, &bench.history, "memory");
        bench.setup.releaseCheck = &run;
        const size_t commands = bench.device.log.size();
        EXPECT_EQ(bench.Update(1), step.exitCode) << step.what << ": " << bench.events.failure;
        EXPECT_EQ(bench.Remembered(), step.remembered) << step.what;
        if (step.exitCode != 0) {
            EXPECT_EQ(bench.events.failure.rfind("0303 -7: ", 0), 0u) << bench.events.failure;
            EXPECT_EQ(bench.device.log.size(), commands + 1) << "only the record read";
        }
    }
}

TEST(SignedRelease, AThresholdOfTwoNeedsTwoDistinctTrustedKeys)
{
    const struct {
        std::vector<std::string> signers;
        int exitCode;
    } cases[] = {{{KEY_A}, 1}, {{KEY_B}, 1}, {{KEY_A, KEY_C}, 0}, {{KEY_C, KEY_B, KEY_A}, 0}};
    for (const auto& c : cases) {
        SignedBench bench({KEY_A, KEY_B, KEY_C}, 2);
        bench.server.Put("Door/R100.Sig2",
                         Statement(bench.release, KEY_A, "R100", nullptr, SIZE_MAX, Terms(), c.signers));
        EXPECT_EQ(bench.Update(1), c.exitCode) << c.signers.size() << " signers: " << bench.events.failure;
        if (c.exitCode != 0) {
            EXPECT_EQ(bench.events.failure.rfind("0303 -2: ", 0), 0u) << bench.events.failure;
        }
    }
}

// The next release: another boot image (version 23) and one option line
// less, so its catalogue and statement differ from the first release's.
Release NextRelease()
{
    return Release({{"BTR123.bin", 0}, {"BVRABD.bin", 16}, {"OPR0TW.bin", 64}});
}

// The server makes `next` live (catalogue, statement, images) once it has
// answered `requests` requests.
void GoLiveAfter(FakeServer& server, const Release& next, size_t requests)
{
    server.afterRequest = [&next, requests](FakeServer& s) {
        if (s.requests.size() != requests) return;
        next.Publish(s);
        s.Put("Door/R100.Sig2", Statement(next));
    };
}

// The catalogue and its statement are two requests. A release that goes
// live between them is met by fetching both once more; when the second pair
// does not hold either, the first refusal stands as it always read.
TEST(SignedRelease, ACatalogueAndStatementOfTwoReleasesAreFetchedOnceMore)
{
    const Release next = NextRelease();
    const std::string sig = std::string(BASE) + "Door/R100.Sig2";
    const std::string bin = std::string(BASE) + "Door/R100.Bin";
    const std::vector<std::string> pairTwice{"Door/R100.Bin", "Door/R100.Sig2", "Door/R100.Bin", "Door/R100.Sig2"};
    // Word for word what the first pair's refusal has always said.
    const std::string refusedAsBefore =
        "0303 -4: the release statement was refused: STATEMENT_OTHER_CATALOGUE, the catalogue's length or "
        "SHA-256 differs";
    struct Case {
        const char* name;
        std::function<void(SignedBench&)> serve;
        int exitCode;
        std::vector<std::string> doorRequests;
    };
    const Case cases[] = {
        {"the next release goes live after the catalogue request",
         [&](SignedBench& b) { GoLiveAfter(b.server, next, 1); }, 0, pairTwice},
        {"always the catalogue of one release and the statement of the next",
         [&](SignedBench& b) { b.server.files[sig] = Statement(next); }, 1, pairTwice},
        {"the second catalogue cannot be fetched",
         [&](SignedBench& b) {
             b.server.files[sig] = Statement(next);
             b.server.afterRequest = [&](FakeServer& s) {
                 if (s.requests.size() == 2) s.files.erase(bin);
             };
         },
         1,
         {pairTwice.begin(), pairTwice.begin() + 3}},
        {"the second statement cannot be fetched",
         [&](SignedBench& b) {
             b.server.files[sig] = Statement(next);
             b.server.afterRequest = [&](FakeServer& s) {
                 if (s.requests.size() == 3) s.files.erase(sig);
             };
         },
         1, pairTwice},
        {"the second pair is signed by another key",
         [&](SignedBench& b) {
             b.server.files[sig] = Statement(next);
             b.server.afterRequest = [&](FakeServer& s) {
                 if (s.requests.size() != 2) return;
                 next.Publish(s);
                 s.Put("Door/R100.Sig2", Statement(next, KEY_B));
             };
         },
         1, pairTwice},
    };
    for (const Case& c : cases) {
        SignedBench bench;
        c.serve(bench);
        EXPECT_EQ(bench.Update(0), c.exitCode) << c.name << ": " << bench.events.failure;
        std::vector<std::string> door;
        for (const std::string& request : bench.server.requests)
            if (request.rfind("Door/", 0) == 0) door.push_back(request);
        EXPECT_EQ(door, c.doorRequests) << c.name;
        if (c.exitCode == 0) {
            // The second release, held against its own statement, is the one programmed.
            EXPECT_EQ(bench.server.Count("Pool/BTR123.bin"), 1u) << c.name;
            EXPECT_EQ(bench.server.Count("Pool/BTR122.bin"), 0u) << c.name;
            EXPECT_TRUE(bench.FlashHolds(next.images[0])) << c.name;
            EXPECT_TRUE(bench.FlashHolds(next.images[2])) << c.name;
        } else {
            EXPECT_EQ(bench.events.failure, refusedAsBefore) << c.name;
            EXPECT_EQ(bench.events.failureExit, 1) << c.name;
            EXPECT_EQ(bench.server.requests.size(), door.size()) << c.name << ": no image fetched";
            EXPECT_EQ(bench.device.log, std::vector<std::string>{"READ 8175 1"}) << c.name;
        }
    }
}

// Several in-process devices behind one run: the memo downloader shares the
// release, and each path "sim:N" opens device N.
struct MultiBench {
    Release release;
    FakeServer server;
    std::unique_ptr<CMemoDownloader> shared;
    CMemoryHistory history;
    std::unique_ptr<CStatementCheck> check;
    std::vector<std::unique_ptr<CInProcessDevice>> devices;
    std::atomic<int> interrupts{0};

    // `statementKey` empty: an unsigned run; otherwise the statement is
    // signed with that key and key a is trusted.
    MultiBench(int count, int unpluggedDevice, const std::string& statementKey)
    {
        release.Publish(server);
        if (!statementKey.empty()) {
            server.Put("Door/R100.Sig2", Statement(release, statementKey));
            check = std::make_unique<CStatementCheck>(Trusted(), 1, &history, "memory");
        }
        shared = std::make_unique<CMemoDownloader>(server);
        for (int i = 0; i < count; ++i) {
            SimulatorOptions options;
            if (i == unpluggedDevice) options.unplugAfter = 40;  // inside the first block's data
            devices.push_back(std::make_unique<CInProcessDevice>(options));
            devices.back()->device.SetInfoRecord(INFO);
        }
    }

    std::vector<DeviceOutcome> Run()
    {
        MultiDeviceRun run;
        for (size_t i = 0; i < devices.size(); ++i) run.paths.push_back("sim:" + std::to_string(i));
        run.baseUrl = BASE;
        run.downloader = shared.get();
        run.releaseCheck = check.get();
        run.interrupts = &interrupts;
        // The in-process devices are handed out through a forwarding transport.
        struct Forward : CReportTransport {
            CReportTransport& inner;
            explicit Forward(CReportTransport& t) : inner(t) {}
            int ReadReport(uint8_t* b, uint32_t* c) override { return inner.ReadReport(b, c); }
            int WriteReport(const uint8_t* b, uint32_t* c) override { return inner.WriteReport(b, c); }
        };
        run.open = [&](const std::string& path, std::unique_ptr<CReportTransport>& transport, std::string&) {
            transport = std::make_unique<Forward>(*devices[size_t(path[4] - '0')]);
            return 0;
        };
        run.eventsFor = [](const std::string&, size_t) { return std::make_unique<RecordingEvents>(); };
        return UpdateDevices(run);
    }

    // The bases and option line 0's image, the three an update programs.
    bool FlashHoldsTheRelease(size_t device) const
    {
        for (size_t i : {0u, 1u, 2u}) {
            const Image& image = release.images[i];
            if (!std::equal(image.firmware.begin(), image.firmware.end(),
                            devices[device]->device.Flash() + size_t(image.firstBlock) * FLASH_BLOCK_SIZE))
                return false;
        }
        return true;
    }
};

// One failing device never stops the others; the release (and on a signed
// run its statement) is fetched and checked once for all devices, and a
// refused statement refuses every device before anything is erased.
TEST(MultiDevice, EachDeviceEndsOnItsOwnAndTheReleaseIsFetchedOnce)
{
    const std::vector<std::string> wholeRelease = {"Door/R100.Bin", "Pool/BTR122.bin", "Pool/BVRABD.bin",
                                                   "Pool/OPR0TW.bin"};
    const struct {
        const char* name;
        int devices;
        int unplugged;  // -1: none
        std::string statementKey;
        std::vector<int> exitCodes;
        std::vector<std::string> codes;
        std::vector<std::string> requests;
    } cases[] = {
        {"third of four unplugged mid-write", 4, 2, "", {0, 0, 1, 0}, {"", "", "0403+ 0", ""}, wholeRelease},
        {"signed", 3, -1, KEY_A, {0, 0, 0}, {"", "", ""},
         {"Door/R100.Bin", "Door/R100.Sig2", "Pool/BTR122.bin", "Pool/BVRABD.bin", "Pool/OPR0TW.bin"}},
        {"signed by an untrusted key", 3, -1, KEY_B, {1, 1, 1}, {"0303 -2", "0303 -2", "0303 -2"},
         {"Door/R100.Bin", "Door/R100.Sig2"}},
    };
    for (const auto& c : cases) {
        MultiBench bench(c.devices, c.unplugged, c.statementKey);
        const std::vector<DeviceOutcome> outcomes = bench.Run();
        ASSERT_EQ(outcomes.size(), size_t(c.devices)) << c.name;
        for (size_t i = 0; i < outcomes.size(); ++i) {
            EXPECT_EQ(outcomes[i].exitCode, c.exitCodes[i]) << c.name << " " << i << " " << outcomes[i].text;
            EXPECT_EQ(outcomes[i].code, c.codes[i]) << c.name << " " << i;
            if (c.exitCodes[i] == 0) {
                EXPECT_EQ(outcomes[i].images, (std::vector<std::string>{"BTR122.bin", "BVRABD.bin", "OPR0TW.bin"}));
                EXPECT_EQ(outcomes[i].model, "R100");
                EXPECT_TRUE(bench.FlashHoldsTheRelease(i)) << c.name << " " << i;
            } else if (c.codes[i].rfind("0303", 0) == 0) {
                EXPECT_EQ(bench.devices[i]->log, std::vector<std::string>{"READ 8175 1"}) << c.name << " " << i;
            }
        }
        EXPECT_EQ(bench.server.requests, c.requests) << c.name;
        EXPECT_EQ(CombinedExitCode(outcomes), *std::max_element(c.exitCodes.begin(), c.exitCodes.end())) << c.name;
    }
}

// What a bench run tells: the table names the failed device and its code,
// each log line is one JSON record.
TEST(MultiDevice, OutcomeTableAndLogLine)
{
    MultiBench bench(3, 2, "");
    const std::vector<DeviceOutcome> outcomes = bench.Run();
    ASSERT_EQ(outcomes.size(), 3u);
    const std::string table = OutcomeTable(outcomes);
    EXPECT_NE(table.find("sim:2  R100  03A0   03A0   -"), std::string::npos) << table;
    EXPECT_NE(table.find("exit 1 0403+ 0: image BTR122.bin did not verify"), std::string::npos) << table;
    const std::string line = OutcomeLogLine(outcomes[0]);
    EXPECT_EQ(line.rfind("{\"format\":1,\"time\":\"20", 0), 0u) << line;
    EXPECT_NE(line.find("\"images\":[\"BTR122.bin\",\"BVRABD.bin\",\"OPR0TW.bin\"],\"exit\":0"), std::string::npos)
        << line;
}

TEST(MultiDevice, CombinedExitCode)
{
    auto outcome = [](int code) {
        DeviceOutcome o;
        o.exitCode = code;
        return o;
    };
    EXPECT_EQ(CombinedExitCode({}), 3);
    EXPECT_EQ(CombinedExitCode({outcome(0), outcome(0)}), 0);
    EXPECT_EQ(CombinedExitCode({outcome(0), outcome(4)}), 1);
    EXPECT_EQ(CombinedExitCode({outcome(3), outcome(0)}), 1);
    EXPECT_EQ(CombinedExitCode({outcome(1), outcome(130)}), 130);
}

}  // namespace
