// The release core both updaters decide with: where files lie, which images
// an option line plans, and the order of the catalogue's and images' checks.
#include "update/buffer_sizes.h"
#include "update/image_plan.h"
#include "update/release_acceptance.h"
#include "update/release_history.h"
#include "update/release_signing.h"
#include "update/server_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "tests/support/memory_history.h"
#include "tests/support/package_fixtures.h"

namespace {

TEST(ServerLayout, PathsUnderTheBaseUrl)
{
    EXPECT_EQ(ServerPath("http://h/B/", ServerFile::CATALOGUE, "D220"), "http://h/B/Door/D220.Bin");
    EXPECT_EQ(ServerPath("http://h/B/", ServerFile::STATEMENT, "D220"), "http://h/B/Door/D220.Sig");
    EXPECT_EQ(ServerPath("http://h/B/", ServerFile::IMAGE, "BTD222.bin"), "http://h/B/Pool/BTD222.bin");

    char small[16];
    EXPECT_FALSE(FormatServerPath(small, sizeof small, "http://h/B/", ServerFile::IMAGE, "BTD222.bin"));
    EXPECT_STREQ(small, "http://h/B/Pool");  // cut, and terminated
}

TEST(ServerLayout, PackageIdIsCharactersTwoToFive)
{
    const struct {
        const char* name;
        const char* id;
    } cases[] = {{"BTR122.bin", "R122"}, {"OP0T", "0T"}, {"B", ""}, {"", ""}};
    for (const auto& c : cases) {
        char id[PACKAGE_ID_LENGTH + 1];
        std::memset(id, 'x', sizeof id);
        ImagePackageId(c.name, id);
        EXPECT_STREQ(id, c.id) << c.name;
    }
}

TEST(ImagePlan, BaseImagesUnlessCarriedAndTheChosenOption)
{
    const struct {
        const char* what;
        std::vector<int32_t> sizes;  // 0: the device carries it
        int32_t line, lineCount;
        std::vector<int32_t> plan;
    } cases[] = {
        {"all three", {10, 10, 10, 10}, 1, 2, {0, 1, 3}},
        {"first line", {10, 10, 10, 10}, 0, 2, {0, 1, 2}},
        {"no selection", {10, 10, 10, 10}, -1, 2, {0, 1}},
        {"no lines offered", {10, 10}, 0, 0, {0, 1}},
        {"bases carried", {0, 0, 10}, 0, 1, {2}},
        {"nothing to do", {0, 0}, 0, 0, {}},
        {"a chosen option of size 0", {10, 10, 0}, 0, 1, {0, 1}},
    };
    for (const auto& c : cases) {
        CatalogueEntry entries[MAX_CATALOGUE_ENTRIES] = {};
        for (size_t i = 0; i < c.sizes.size(); ++i) entries[i].size = c.sizes[i];
        int32_t plan[MAX_CATALOGUE_ENTRIES];
        const int32_t count = PlanImages(entries, int32_t(c.sizes.size()), ChosenEntry(c.line, c.lineCount), plan);
        EXPECT_EQ(std::vector<int32_t>(plan, plan + count), c.plan) << c.what;
    }
    EXPECT_EQ(ImageLetter(0), 'T');
    EXPECT_EQ(ImageLetter(1), 'V');
    EXPECT_EQ(ImageLetter(5), 'C');
}

TEST(WindowCode, EachRefusalAsTheWindowShowsIt)
{
    const struct {
        ReleaseResult result;
        const char* text;
    } cases[] = {
        {{ReleaseVerdict::CATALOGUE_REFUSED, -7}, "0302 -7"}, {{ReleaseVerdict::STATEMENT_REFUSED, -4}, "0303 -4"},
        {{ReleaseVerdict::IMAGE_REFUSED, -3}, "0402 -3"},     {{ReleaseVerdict::IMAGE_NOT_SIGNED, 1}, "0404+ 1"},
        {{ReleaseVerdict::IMAGE_NOT_VERIFIED, 0}, "0403+ 0"}, {{ReleaseVerdict::CATALOGUE_STALE, 1}, ""},
    };
    for (const auto& c : cases) {
        char text[WINDOW_CODE_SIZE];
        FormatWindowCode(c.result, text);
        EXPECT_STREQ(text, c.text);
    }
}

// Serves scripted catalogue downloads and statement verdicts, and records
// what the core asked for.
class CScriptedSource : public CReleaseSource {
public:
    struct Catalogue {
        Bytes bytes;
        bool stop = false;
    };
    std::deque<Catalogue> catalogues;
    std::deque<int32_t> statementCodes;
    std::vector<std::string> asked;

    uint32_t FetchCatalogue(uint8_t* buffer, uint32_t capacity, bool again, bool* stop) override
    {
        asked.push_back(again ? "catalogue again" : "catalogue");
        const Catalogue next = catalogues.front();
        catalogues.pop_front();
        *stop = next.stop;
        if (next.bytes.size() > capacity) return NO_BODY;
        std::copy(next.bytes.begin(), next.bytes.end(), buffer);
        return uint32_t(next.bytes.size());
    }

    int32_t CheckStatement(const CatalogueFacts& catalogue, bool again) override
    {
        asked.push_back(std::string(again ? "statement again" : "statement") + " for " +
                        std::to_string(catalogue.length) + " bytes");
        const int32_t code = statementCodes.front();
        statementCodes.pop_front();
        return code;
    }
};

DeviceInfo Device(int32_t version = 0x22)
{
    DeviceInfo info{};
    info.deviceVersion = version;
    std::memcpy(info.deviceSecondVersion, "ABC", 4);
    std::memcpy(info.modelId, "D220", 5);
    info.updaterLevel = 1;
    return info;
}

Bytes Catalogue(uint8_t status = CATALOGUE_STATUS_CURRENT)
{
    return Sealed(PACKAGE_CATALOGUE,
                  PlainCatalogue(Concat({RecordBytes("BTD222.bin", 100, u"base"), RecordBytes("BVDABC.bin", 200, u"ui"),
                                         RecordBytes("OPD0HK.bin", 300, u"pack"), Bytes{0}}),
                                 status),
                  "D220");
}

struct Accepted {
    ReleaseResult result;
    CatalogueWalk walk;
};

Accepted Accept(CScriptedSource& source, bool signedRelease, const DeviceInfo& info = Device())
{
    std::vector<uint8_t> buffer(CATALOGUE_BUFFER_SIZE, 0);
    Accepted out{};
    const CStatementSigning signing(nullptr, nullptr, nullptr, 0);
    out.result =
        AcceptCatalogue(source, info.modelId, &info, signedRelease ? &signing : nullptr, buffer.data(), &out.walk);
    return out;
}

ReleaseStatement StatementOf(uint64_t serial, uint8_t tag)
{
    ReleaseStatement statement{};
    statement.format = STATEMENT_FORMAT_2;
    statement.serial = serial;
    std::memset(statement.signedSha256, tag, SHA256_LENGTH);
    return statement;
}

AcceptedRelease Stored(uint64_t serial, uint8_t tag)
{
    AcceptedRelease stored{serial, {}};
    std::memset(stored.signedSha256, tag, SHA256_LENGTH);
    return stored;
}

constexpr ReleaseKey HISTORY_KEYS[] = {{{1, 2, 3, 4, 5, 6, 7, 8}, {0}}};

std::string RecordName()
{
    char name[HISTORY_NAME_SIZE];
    EXPECT_TRUE(HistoryName("D220", HISTORY_KEYS, 1, name));
    return name;
}

// A signed identification whose statement holds, against a history.
ReleaseResult AcceptSigned(CMemoryHistory& history, const ReleaseStatement& statement, int32_t deviceVersion = 0x22)
{
    CScriptedSource source;
    source.catalogues = {{Catalogue()}};
    source.statementCodes = {STATEMENT_OK};
    std::vector<uint8_t> buffer(CATALOGUE_BUFFER_SIZE, 0);
    const CStatementSigning signing(&statement, &history, HISTORY_KEYS, 1);
    const DeviceInfo info = Device(deviceVersion);
    CatalogueWalk walk;
    return AcceptCatalogue(source, info.modelId, &info, &signing, buffer.data(), &walk);
}

// Base image 0 of Catalogue() carries version 0x22 ("BTD222.bin").
TEST(AcceptCatalogue, ASignedReleaseIsHeldAgainstTheNewestAcceptedAndTheDevice)
{
    const struct {
        const char* what;
        uint64_t stored;  // 0: nothing stored
        uint8_t storedTag;
        uint64_t offered;
        uint8_t offeredTag;
        int32_t deviceVersion;
        ReleaseVerdict verdict;
        int32_t code;
        uint64_t storedAfter;
    } cases[] = {
        {"a fresh client", 0, 0, 5, 1, 0x22, ReleaseVerdict::ACCEPTED, 0, 5},
        {"a newer release", 4, 9, 5, 1, 0x22, ReleaseVerdict::ACCEPTED, 0, 5},
        {"the same release again", 5, 1, 5, 1, 0x22, ReleaseVerdict::ACCEPTED, 0, 5},
        {"an older release (a replay)", 6, 1, 5, 1, 0x22, ReleaseVerdict::STATEMENT_REFUSED, STATEMENT_SUPERSEDED, 6},
        {"another release under the same serial", 5, 2, 5, 1, 0x22, ReleaseVerdict::STATEMENT_REFUSED,
         STATEMENT_SUPERSEDED, 5},
        {"base image 0 below the device's version", 0, 0, 5, 1, 0x23, ReleaseVerdict::STATEMENT_REFUSED,
         STATEMENT_BASE_IMAGE_OLDER, 0},
        {"base image 0 above the device's version", 0, 0, 5, 1, 0x21, ReleaseVerdict::ACCEPTED, 0, 5},
        {"a replay to a device that carries more", 6, 1, 5, 1, 0x23, ReleaseVerdict::STATEMENT_REFUSED,
         STATEMENT_SUPERSEDED, 6},
    };
    for (const auto& c : cases) {
        CMemoryHistory history;
        if (c.stored != 0) history.records[RecordName()] = Stored(c.stored, c.storedTag);
        const ReleaseResult got = AcceptSigned(history, StatementOf(c.offered, c.offeredTag), c.deviceVersion);
        EXPECT_EQ(got.verdict, c.verdict) << c.what;
        EXPECT_EQ(got.code, c.code) << c.what;
        const auto found = history.records.find(RecordName());
        EXPECT_EQ(found == history.records.end() ? 0 : found->second.serial, c.storedAfter) << c.what;
    }
}

TEST(AcceptCatalogue, AStoreThatFailsIsAnErrorNeverAnEmptyHistory)
{
    CMemoryHistory unreadable;
    unreadable.readFails = true;
    ReleaseResult got = AcceptSigned(unreadable, StatementOf(5, 1));
    EXPECT_EQ(got.verdict, ReleaseVerdict::HISTORY_FAILED);
    EXPECT_EQ(got.code, HISTORY_UNREADABLE);

    CMemoryHistory unwritable;
    unwritable.writeFails = true;
    got = AcceptSigned(unwritable, StatementOf(5, 1));
    EXPECT_EQ(got.verdict, ReleaseVerdict::HISTORY_FAILED);
    EXPECT_EQ(got.code, HISTORY_UNWRITABLE);
    char code[WINDOW_CODE_SIZE];
    FormatWindowCode(got, code);
    EXPECT_STREQ(code, "0304 -2");

    // The same release again needs no write, so it passes a store that is read-only.
    unwritable.records[RecordName()] = Stored(5, 1);
    EXPECT_EQ(AcceptSigned(unwritable, StatementOf(5, 1)).verdict, ReleaseVerdict::ACCEPTED);
    EXPECT_EQ(unwritable.writes, 0);
}

// Records are kept per model and per set of trusted keys, in any order.
TEST(ReleaseHistory, RecordNamesAndTextsReadBack)
{
    const ReleaseKey ab[] = {{{1}, {0}}, {{2}, {0}}};
    const ReleaseKey ba[] = {{{2}, {0}}, {{1}, {0}}};
    const ReleaseKey a[] = {{{1}, {0}}};
    char nameAB[HISTORY_NAME_SIZE], nameBA[HISTORY_NAME_SIZE], nameA[HISTORY_NAME_SIZE], other[HISTORY_NAME_SIZE];
    ASSERT_TRUE(HistoryName("D220", ab, 2, nameAB));
    ASSERT_TRUE(HistoryName("D220", ba, 2, nameBA));
    ASSERT_TRUE(HistoryName("D220", a, 1, nameA));
    ASSERT_TRUE(HistoryName("D221", a, 1, other));
    EXPECT_STREQ(nameAB, nameBA);
    EXPECT_STRNE(nameAB, nameA);
    EXPECT_STRNE(nameA, other);
    EXPECT_EQ(std::string(nameA).substr(0, 5), "D220.");
    EXPECT_EQ(std::strlen(nameA), HISTORY_NAME_SIZE - 1);

    AcceptedRelease release{UINT64_MAX, {}};
    for (size_t i = 0; i < SHA256_LENGTH; ++i) release.signedSha256[i] = uint8_t(i * 7);
    char text[HISTORY_TEXT_SIZE];
    const size_t length = FormatAcceptedRelease(release, text);
    AcceptedRelease back{};
    ASSERT_TRUE(ParseAcceptedRelease(text, length, &back));
    EXPECT_EQ(back.serial, UINT64_MAX);
    EXPECT_EQ(0, std::memcmp(back.signedSha256, release.signedSha256, SHA256_LENGTH));

    const std::string hex(64, 'a');
    const struct {
        std::string text;
        bool valid;
    } texts[] = {
        {"7 " + hex, true},
        {"7 " + hex + "\n", true},
        {"", false},
        {"7", false},
        {"7 " + hex.substr(1), false},
        {"7 " + hex + "a", false},
        {"7 " + hex + "\n\n", false},
        {"-7 " + hex, false},
        {"07 " + hex, false},
        {"18446744073709551616 " + hex, false},  // 2^64
        {"7  " + hex, false},
        {"7 " + std::string(63, 'a') + "g", false},
    };
    for (const auto& t : texts) {
        AcceptedRelease parsed{};
        EXPECT_EQ(ParseAcceptedRelease(t.text.data(), t.text.size(), &parsed), t.valid) << t.text;
    }
}

TEST(AcceptCatalogue, WalksTheCatalogueAndAppliesTheSkipRules)
{
    CScriptedSource source;
    source.catalogues = {{Catalogue()}};
    const Accepted got = Accept(source, false);
    EXPECT_EQ(got.result.verdict, ReleaseVerdict::ACCEPTED);
    ASSERT_EQ(got.walk.count, 3);
    EXPECT_EQ(got.walk.entries[0].size, 0);  // version 22 is on the device
    EXPECT_EQ(got.walk.entries[1].size, 0);  // so is ABC
    EXPECT_EQ(got.walk.entries[2].size, 300);
    EXPECT_EQ(got.walk.optionLineCount, 1);
    EXPECT_EQ(source.asked, std::vector<std::string>{"catalogue"});  // unsigned: no statement
}

TEST(AcceptCatalogue, RefusalsInTheirOrder)
{
    Bytes tampered = Catalogue();
    tampered.back() ^= 1;
    const struct {
        const char* what;
        std::deque<CScriptedSource::Catalogue> catalogues;
        bool signedRelease;
        std::deque<int32_t> statementCodes;
        ReleaseVerdict verdict;
        int32_t code;
        std::vector<std::string> asked;
    } cases[] = {
        {"nothing fetched", {{{}, true}}, true, {}, ReleaseVerdict::NOT_FETCHED, 0, {"catalogue"}},
        {"failed download", {{Bytes(CATALOGUE_BUFFER_SIZE + 1, 0)}}, false, {}, ReleaseVerdict::CATALOGUE_REFUSED,
         PACKAGE_TOO_LARGE, {"catalogue"}},
        {"package check before the statement", {{tampered}}, true, {}, ReleaseVerdict::CATALOGUE_REFUSED,
         PACKAGE_BAD_XOR, {"catalogue"}},
        {"bad signature is final at once", {{Catalogue()}}, true, {STATEMENT_BAD_SIGNATURE},
         ReleaseVerdict::STATEMENT_REFUSED, STATEMENT_BAD_SIGNATURE, {"catalogue", "statement for 104 bytes"}},
        {"statement before the status", {{Catalogue(0)}}, true, {STATEMENT_OTHER_MODEL},
         ReleaseVerdict::STATEMENT_REFUSED, STATEMENT_OTHER_MODEL, {"catalogue", "statement for 104 bytes"}},
        {"stale server", {{Catalogue(1)}}, false, {}, ReleaseVerdict::CATALOGUE_STALE, 1, {"catalogue"}},
        {"newer updater", {{Catalogue(3)}}, true, {STATEMENT_OK}, ReleaseVerdict::UPDATER_OUTDATED, 3,
         {"catalogue", "statement for 104 bytes"}},
    };
    for (const auto& c : cases) {
        CScriptedSource source;
        source.catalogues = c.catalogues;
        source.statementCodes = c.statementCodes;
        const Accepted got = Accept(source, c.signedRelease);
        EXPECT_EQ(got.result.verdict, c.verdict) << c.what;
        EXPECT_EQ(got.result.code, c.code) << c.what;
        EXPECT_EQ(source.asked, c.asked) << c.what;
        EXPECT_EQ(got.walk.count, 0) << c.what;
    }
}

// A release made live between the catalogue and its statement splits the
// pair (-4, -5): both are fetched once more, past anything kept, and the
// second pair lifts the refusal only when it holds.
TEST(AcceptCatalogue, ASplitPairIsFetchedOnceMore)
{
    const Bytes next = Sealed(
        PACKAGE_CATALOGUE, PlainCatalogue(Concat({RecordBytes("BTD223.bin", 100, u"base"), Bytes{0}})), "D220");
    const struct {
        const char* what;
        std::deque<CScriptedSource::Catalogue> catalogues;
        std::deque<int32_t> statementCodes;
        ReleaseVerdict verdict;
        int32_t code;
        size_t asked;
        int32_t count;  // records of the accepted catalogue
    } cases[] = {
        {"second pair holds", {{Catalogue()}, {next}}, {STATEMENT_OTHER_CATALOGUE, STATEMENT_OK},
         ReleaseVerdict::ACCEPTED, 0, 4, 1},
        {"second pair refused: the first refusal stands", {{Catalogue()}, {Catalogue()}},
         {STATEMENT_OTHER_RECORDS, STATEMENT_BAD_SIGNATURE}, ReleaseVerdict::STATEMENT_REFUSED,
         STATEMENT_OTHER_RECORDS, 4, 0},
        {"second catalogue missing", {{Catalogue()}, {{}, true}}, {STATEMENT_OTHER_CATALOGUE},
         ReleaseVerdict::STATEMENT_REFUSED, STATEMENT_OTHER_CATALOGUE, 3, 0},
    };
    for (const auto& c : cases) {
        CScriptedSource source;
        source.catalogues = c.catalogues;
        source.statementCodes = c.statementCodes;
        const Accepted got = Accept(source, true);
        EXPECT_EQ(got.result.verdict, c.verdict) << c.what;
        EXPECT_EQ(got.result.code, c.code) << c.what;
        EXPECT_EQ(source.asked.size(), c.asked) << c.what;
        if (c.asked > 2) {
            EXPECT_EQ(source.asked[2], "catalogue again") << c.what;
        }
        EXPECT_EQ(got.walk.count, c.count) << c.what;
    }
}

TEST(AcceptDevice, ALaterUpdaterGenerationIsRefused)
{
    DeviceInfo info = Device();
    EXPECT_EQ(AcceptDevice(info).verdict, ReleaseVerdict::ACCEPTED);
    info.updaterLevel = MAX_UPDATER_LEVEL + 1;
    EXPECT_EQ(AcceptDevice(info).verdict, ReleaseVerdict::UPDATER_OUTDATED);
}

// Signed releases hold the download against the statement before the
// package check decodes it; a body that did not arrive whole goes to the
// package check's refusal.
TEST(AcceptImage, StatementFirstThenThePackageCheck)
{
    std::string error;
    Bytes image;
    ASSERT_TRUE(BuildImagePackage("D222", 0, Bytes(700, 0x5A), &image, &error)) << error;
    CatalogueEntry entry = {"BTD222.bin", int32_t(image.size())};
    ReleaseStatement statement{};
    statement.recordCount = 1;
    std::strcpy(statement.records[0].name, entry.name);
    statement.records[0].size = uint32_t(image.size());
    Sha256(image.data(), image.size(), statement.records[0].sha256);
    Bytes other = image;
    other.back() ^= 1;

    const struct {
        const char* what;
        const Bytes* bytes;
        uint32_t length;
        bool signedRelease;
        const ReleaseStatement* statement;
        ReleaseVerdict verdict;
        int32_t code;
    } cases[] = {
        {"unsigned", &image, uint32_t(image.size()), false, nullptr, ReleaseVerdict::ACCEPTED, 0},
        {"signed", &image, uint32_t(image.size()), true, &statement, ReleaseVerdict::ACCEPTED, 0},
        {"another file", &other, uint32_t(other.size()), true, &statement, ReleaseVerdict::IMAGE_NOT_SIGNED, 0},
        {"no statement accepted", &image, uint32_t(image.size()), true, nullptr, ReleaseVerdict::IMAGE_NOT_SIGNED, 0},
        {"another file, unsigned", &other, uint32_t(other.size()), false, nullptr, ReleaseVerdict::IMAGE_REFUSED,
         PACKAGE_BAD_XOR},
        {"no body", &image, NO_BODY, true, &statement, ReleaseVerdict::IMAGE_REFUSED, PACKAGE_BAD_LENGTH},
    };
    for (const auto& c : cases) {
        Bytes buffer(ImageBufferCapacity(entry.size), 0);
        std::copy(c.bytes->begin(), c.bytes->end(), buffer.begin());
        const CStatementSigning signing(c.statement, nullptr, nullptr, 0);
        const ReleaseResult got = AcceptImage(c.signedRelease ? &signing : nullptr, 0, entry, buffer.data(), c.length,
                                              uint32_t(buffer.size()));
        EXPECT_EQ(got.verdict, c.verdict) << c.what;
        EXPECT_EQ(got.code, c.code) << c.what;
    }
}

}  // namespace
