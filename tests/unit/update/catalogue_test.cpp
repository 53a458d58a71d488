// The catalogue walk over plain (already checked) catalogues, and the skip rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/package_fixtures.h"
#include "update/catalogue.h"

namespace {

// A plain catalogue whose totalLength field says `length` (the bytes' own size unless given).
Bytes Catalogue(const Bytes& body, uint32_t length = 0)
{
    Bytes bytes = PlainCatalogue(body);
    WriteBigEndian32(bytes.data() + 20, length ? length : static_cast<uint32_t>(bytes.size()));
    return bytes;
}

struct Walked {
    int32_t code;
    CatalogueWalk walk;
};

// The package sits in a buffer of exactly `capacity` bytes so that any read
// past it is reported by the sanitizers.
Walked Walk(const Bytes& package, size_t capacity = 0)
{
    Bytes buffer(package);
    if (capacity) buffer.resize(capacity, 0);
    Walked result{};
    result.code = WalkCatalogue(buffer.data(), buffer.size(), &result.walk);
    return result;
}

std::u16string Line(const CatalogueWalk& walk, int k)
{
    return walk.optionLines[k];
}

Bytes Records(int count, const std::u16string& description = u"d")
{
    Bytes body;
    for (int i = 0; i < count; ++i) {
        const Bytes record = RecordBytes("N0M0R" + std::to_string(i), 100u + i, description);
        body.insert(body.end(), record.begin(), record.end());
    }
    return body;
}

const std::string NAME_31(31, 'n');
const std::u16string DESCRIPTION_36(36, u'\u53f0');

struct WalkCase {
    const char* what;
    Bytes package;
    int32_t expected;
    int32_t count;  // records read when accepted
};

TEST(CatalogueWalk, RefusesEveryBrokenLimitAndAcceptsTheLimitsThemselves)
{
    const Bytes oneRecord = RecordBytes("T0M21F", 4128, u"base");
    const WalkCase cases[] = {
        {"no records", Catalogue(Bytes{0}), CATALOGUE_OK, 0},
        {"eight records", Catalogue(Concat({Records(8), Bytes{0}})), CATALOGUE_OK, 8},
        {"nine records", Catalogue(Concat({Records(9), Bytes{0}})), CATALOGUE_TOO_MANY_RECORDS, 0},
        {"name of 31", Catalogue(Concat({RecordBytes(NAME_31, 1, u""), Bytes{0}})), CATALOGUE_OK, 1},
        {"name of 32", Catalogue(Concat({RecordBytes(NAME_31 + "n", 1, u""), Bytes{0}})), CATALOGUE_NAME_TOO_LONG, 0},
        {"description of 36", Catalogue(Concat({RecordBytes("T0M21F", 1, DESCRIPTION_36), Bytes{0}})), CATALOGUE_OK, 1},
        {"description of 37", Catalogue(Concat({RecordBytes("T0M21F", 1, DESCRIPTION_36 + u"x"), Bytes{0}})),
         CATALOGUE_DESCRIPTION_TOO_LONG, 0},
        {"size 0", Catalogue(Concat({RecordBytes("T0M21F", 0, u""), Bytes{0}})), CATALOGUE_OK, 1},
        {"largest size", Catalogue(Concat({RecordBytes("T0M21F", CATALOGUE_MAX_RECORD_SIZE, u""), Bytes{0}})),
         CATALOGUE_OK, 1},
        {"size past the flash",
         Catalogue(Concat({RecordBytes("T0M21F", CATALOGUE_MAX_RECORD_SIZE + 1, u""), Bytes{0}})), CATALOGUE_BAD_SIZE,
         0},
        {"negative size", Catalogue(Concat({RecordBytes("T0M21F", 0x80000000u, u""), Bytes{0}})), CATALOGUE_BAD_SIZE,
         0},
        {"size -1", Catalogue(Concat({RecordBytes("T0M21F", 0xFFFFFFFFu, u""), Bytes{0}})), CATALOGUE_BAD_SIZE, 0},
        {"no closing 0 byte", Catalogue(oneRecord), CATALOGUE_TRUNCATED, 0},
        {"nothing after the header", Catalogue(Bytes{}), CATALOGUE_TRUNCATED, 0},
        {"name runs off the end", Catalogue(Bytes{'T', '0', 'M'}), CATALOGUE_TRUNCATED, 0},
        {"size cut short", Catalogue(Bytes(oneRecord.begin(), oneRecord.begin() + 9)), CATALOGUE_TRUNCATED, 0},
        {"description cut mid-unit", Catalogue(Bytes(oneRecord.begin(), oneRecord.begin() + 14)), CATALOGUE_TRUNCATED,
         0},
        {"description without its 0", Catalogue(Bytes(oneRecord.begin(), oneRecord.end() - 2)), CATALOGUE_TRUNCATED, 0},
        // The closing 0 exists in the buffer but past totalLength: it does not count.
        {"closing 0 past totalLength", Catalogue(Concat({oneRecord, Bytes{0}}), 32 + 21), CATALOGUE_TRUNCATED, 0},
        {"length past the buffer", Catalogue(Bytes{0}, 34), CATALOGUE_BEYOND_BUFFER, 0},
    };
    for (const WalkCase& c : cases) {
        const Walked walked = Walk(c.package);
        EXPECT_EQ(walked.code, c.expected) << c.what;
        EXPECT_EQ(walked.walk.count, c.count) << c.what;
        if (c.expected != CATALOGUE_OK) {
            EXPECT_EQ(walked.walk.optionLineCount, 0) << c.what;
        }
    }
}

TEST(CatalogueWalk, RefusedCatalogueLeavesAnEarlierWalkEmpty)
{
    Walked walked = Walk(Catalogue(Concat({Records(5), Bytes{0}})));
    ASSERT_EQ(walked.walk.count, 5);
    const Bytes nine = Catalogue(Concat({Records(9), Bytes{0}}));
    EXPECT_EQ(WalkCatalogue(nine.data(), nine.size(), &walked.walk), CATALOGUE_TOO_MANY_RECORDS);
    EXPECT_EQ(walked.walk.count, 0);
    EXPECT_EQ(walked.walk.optionLineCount, 0);
    EXPECT_EQ(walked.walk.entries[0].name[0], '\0');
}

TEST(CatalogueWalk, NoBufferOrOneShorterThanAHeader)
{
    CatalogueWalk walk;
    EXPECT_EQ(WalkCatalogue(nullptr, 16384, &walk), CATALOGUE_NO_BUFFER);
    const Bytes header = Catalogue(Bytes{0});
    EXPECT_EQ(WalkCatalogue(header.data(), 31, &walk), CATALOGUE_NO_BUFFER);
}

TEST(CatalogueWalk, FiveRecordsGiveThreeLinesInRecordOrder)
{
    const Bytes body = Concat({
        RecordBytes("T0M21F", 70000, u"base one"),
        RecordBytes("V0MA01", 4128, u"base two"),
        RecordBytes("C0M0R1", 8224, u"\u53f0\u7063 region"),
        RecordBytes("C0MUS2", 8224, u""),
        RecordBytes("C0MJP3", 0, DESCRIPTION_36),
        Bytes{0},
    });
    const Walked walked = Walk(Catalogue(body), 16384);
    ASSERT_EQ(walked.code, CATALOGUE_OK);
    const CatalogueWalk& walk = walked.walk;
    ASSERT_EQ(walk.count, 5);
    EXPECT_STREQ(walk.entries[0].name, "T0M21F");
    EXPECT_EQ(walk.entries[0].size, 70000);
    EXPECT_STREQ(walk.entries[4].name, "C0MJP3");
    EXPECT_EQ(walk.entries[4].size, 0);
    EXPECT_EQ(std::u16string(walk.descriptions[2]), u"\u53f0\u7063 region");
    EXPECT_STREQ(walk.comparisonText, "A01");

    ASSERT_EQ(walk.optionLineCount, 3);
    // Label: character 5 of entry 0, then characters 3-5 of the entry itself.
    EXPECT_EQ(Line(walk, 0), u" F0R1  [ \u53f0\u7063 region ]");
    EXPECT_EQ(Line(walk, 1), u" FUS2  [  ]");
    EXPECT_EQ(Line(walk, 2), u" FJP3  [ " + DESCRIPTION_36 + u" ]");
    EXPECT_EQ(Line(walk, 2).size(), 47u);  // the longest line still fits 48 with its NUL
}

TEST(CatalogueWalk, BaseRecordsAloneGiveNoLines)
{
    for (int count = 0; count <= 2; ++count) {
        const Walked walked = Walk(Catalogue(Concat({Records(count), Bytes{0}})));
        EXPECT_EQ(walked.code, CATALOGUE_OK);
        EXPECT_EQ(walked.walk.count, count);
        EXPECT_EQ(walked.walk.optionLineCount, 0);
    }
}

TEST(CatalogueWalk, ShortNamesEndTheLabelAtTheirEnd)
{
    // Entry 0 "T0M2" has no character 5, so the label starts with the end of
    // the text, as the line's narrow insertion would stop there.
    const Bytes body = Concat(
        {RecordBytes("T0M2", 1, u"a"), RecordBytes("V0MA01", 1, u"b"), RecordBytes("C0M0R1", 1, u"c"), Bytes{0}});
    const Walked walked = Walk(Catalogue(body));
    ASSERT_EQ(walked.code, CATALOGUE_OK);
    EXPECT_EQ(Line(walked.walk, 0), u"   [ c ]");
}

TEST(CatalogueResultText, EveryCodeHasANameAndStaysInTwoDigitsApartFromThePackageCodes)
{
    const int32_t codes[] = {CATALOGUE_NO_BUFFER,     CATALOGUE_BEYOND_BUFFER, CATALOGUE_TOO_MANY_RECORDS,
                             CATALOGUE_NAME_TOO_LONG, CATALOGUE_BAD_SIZE,      CATALOGUE_DESCRIPTION_TOO_LONG,
                             CATALOGUE_TRUNCATED};
    for (int32_t code : codes) {
        EXPECT_LE(code, -10);
        EXPECT_GE(code, -99);
        EXPECT_STRNE(CatalogueResultName(code), "CATALOGUE_UNKNOWN") << code;
        EXPECT_STREQ(PackageResultName(code), "PACKAGE_UNKNOWN") << code;
    }
    EXPECT_STREQ(CatalogueResultName(CATALOGUE_TRUNCATED), "CATALOGUE_TRUNCATED");
    EXPECT_STREQ(CatalogueResultName(CATALOGUE_OK), "CATALOGUE_OK");
    EXPECT_STREQ(CatalogueResultName(-19), "CATALOGUE_UNKNOWN");
    EXPECT_STREQ(CatalogueResultName(-27), "CATALOGUE_UNKNOWN");
}

// Skip rules: entry 0 by hex version, entry 1 by the comparison text.
struct SkipCase {
    const char* what;
    const char* name0;
    int32_t deviceVersion;
    const char* comparisonText;
    const char* deviceSecondVersion;
    int32_t count;
    int32_t size0, size1;  // after the rules; both start at 500
};

TEST(SkipRules, BaseImagesTheDeviceCarriesAreNotProgrammed)
{
    const SkipCase cases[] = {
        {"1F matches 0x1F", "T0M21F", 0x1F, "A01", "B01", 2, 0, 500},
        {"1f matches 0x1F", "T0M21f", 0x1F, "A01", "B01", 2, 0, 500},
        {"20 against 0x1F", "T0M220", 0x1F, "A01", "B01", 2, 500, 500},
        {"only the low digit matches", "T0M20F", 0x1F, "A01", "B01", 2, 500, 500},
        {"non-hex counts as 0", "T0M2Z1", 0x01, "A01", "B01", 2, 0, 500},
        {"both non-hex", "T0M2ZZ", 0x00, "A01", "B01", 2, 0, 500},
        {"second version equal", "T0M220", 0x1F, "A01", "A01", 2, 500, 0},
        {"first character differs", "T0M220", 0x1F, "A01", "B01", 2, 500, 500},
        {"middle character differs", "T0M220", 0x1F, "A01", "A11", 2, 500, 500},
        {"last character differs", "T0M220", 0x1F, "A01", "A02", 2, 500, 500},
        {"one record: entry 1 is not looked at", "T0M21F", 0x1F, "A01", "A01", 1, 0, 500},
        {"both skipped", "T0M2a0", 0xA0, "A01", "A01", 3, 0, 0},
    };
    for (const SkipCase& c : cases) {
        CatalogueEntry table[MAX_CATALOGUE_ENTRIES] = {};
        std::strcpy(table[0].name, c.name0);
        std::strcpy(table[1].name, "V0MA01");
        table[0].size = table[1].size = table[2].size = 500;
        ApplySkipRules(table, c.count, c.comparisonText, c.deviceVersion, c.deviceSecondVersion);
        EXPECT_EQ(table[0].size, c.size0) << c.what;
        EXPECT_EQ(table[1].size, c.size1) << c.what;
        EXPECT_EQ(table[2].size, 500) << c.what;
    }
}

TEST(SkipRules, ApplyToTheWalkedTableWithoutTouchingItsLines)
{
    const Bytes body = Concat(
        {RecordBytes("T0M21F", 1, u"a"), RecordBytes("V0MA01", 2, u"b"), RecordBytes("C0M0R1", 3, u"c"), Bytes{0}});
    Walked walked = Walk(Catalogue(body));
    ASSERT_EQ(walked.code, CATALOGUE_OK);
    CatalogueWalk& walk = walked.walk;
    ApplySkipRules(walk.entries, walk.count, walk.comparisonText, 0x1F, "A01");
    EXPECT_EQ(walk.entries[0].size, 0);
    EXPECT_EQ(walk.entries[1].size, 0);
    EXPECT_EQ(walk.entries[2].size, 3);
    EXPECT_EQ(walk.optionLineCount, 1);
    EXPECT_EQ(Line(walk, 0), u" F0R1  [ c ]");
}

}  // namespace
