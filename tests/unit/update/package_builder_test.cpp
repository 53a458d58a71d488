// What the builder makes, the check accepts and the walk reads back as given.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/package_fixtures.h"
#include "update/catalogue.h"

namespace {

struct LayoutCase {
    uint32_t firstBlock;
    size_t firmwareLength;
    uint16_t lastBlock;
    uint8_t tailPages;
};

TEST(ImagePackageBuilder, PlansATailOfOneToSixteenPages)
{
    const LayoutCase cases[] = {
        {0, 1, 0, 1},
        {0, 256, 0, 1},
        {0, 257, 0, 2},
        {7, 4096, 7, 16},
        {7, 4097, 8, 1},
        {7, 3 * 4096, 9, 16},
        {7, 3 * 4096 + 300, 10, 2},
        {511, 4096, 511, 16},
        {0, 512 * 4096, 511, 16},
    };
    for (const LayoutCase& c : cases) {
        ImageLayout layout{};
        std::string error;
        ASSERT_TRUE(PlanImageLayout(c.firstBlock, c.firmwareLength, &layout, &error)) << error;
        EXPECT_EQ(layout.firstBlock, c.firstBlock);
        EXPECT_EQ(layout.lastBlock, c.lastBlock) << c.firmwareLength;
        EXPECT_EQ(layout.tailPages, c.tailPages) << c.firmwareLength;
    }
}

TEST(ImagePackageBuilder, RefusesEmptyFirmwareAndFirmwarePastTheFlash)
{
    ImageLayout layout{};
    std::string error;
    EXPECT_FALSE(PlanImageLayout(0, 0, &layout, &error));
    EXPECT_FALSE(PlanImageLayout(511, 4097, &layout, &error));
    EXPECT_FALSE(PlanImageLayout(0, 512 * 4096 + 1, &layout, &error));
    EXPECT_FALSE(PlanImageLayout(512, 1, &layout, &error));
    EXPECT_NE(error.find("flash"), std::string::npos);
}

TEST(ImagePackageBuilder, RoundTripThroughTheCheck)
{
    Bytes firmware(4096 + 300);
    for (size_t i = 0; i < firmware.size(); ++i) firmware[i] = static_cast<uint8_t>(i * 13);
    Bytes package;
    std::string error;
    ASSERT_TRUE(BuildImagePackage("0M21", 20, firmware, &package, &error)) << error;
    ASSERT_EQ(package.size(), 32u + 4096 + 2 * 256);

    const CheckRun run = Check(PACKAGE_IMAGE, package, "0M21");
    ASSERT_EQ(run.code, PACKAGE_OK);
    PackageHeader header;
    std::memcpy(&header, run.after.data(), sizeof header);
    EXPECT_EQ(PackageFirstBlock(header), 20);
    EXPECT_EQ(PackageLastBlock(header), 21);
    EXPECT_EQ(header.tailPages, 2);
    EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), run.after.begin() + 32));
    // The rest of the last page is erased flash.
    EXPECT_TRUE(
        std::all_of(run.after.begin() + 32 + firmware.size(), run.after.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(CataloguePackageBuilder, RoundTripThroughTheCheckAndTheWalk)
{
    const std::vector<CatalogueRecordInput> records = {
        {"T0M21F", 70000, u"base one"},
        {"V0MA01", 4128, u"base two"},
        {"C0M0R1", 8224, u"\u53f0\u7063 \U0001F600"},  // a surrogate pair is two code units
        {std::string(31, 'x'), 0, std::u16string(36, u'z')},
    };
    Bytes package;
    std::string error;
    ASSERT_TRUE(BuildCataloguePackage("M01A", 2, records, &package, &error)) << error;

    CheckRun run = Check(PACKAGE_CATALOGUE, package, "M01A");
    ASSERT_EQ(run.code, PACKAGE_OK);
    EXPECT_EQ(run.after[10], 2);
    CatalogueWalk walk;
    ASSERT_EQ(WalkCatalogue(run.after.data(), run.after.size(), &walk), CATALOGUE_OK);
    ASSERT_EQ(walk.count, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(walk.entries[i].name, records[i].name);
        EXPECT_EQ(walk.entries[i].size, static_cast<int32_t>(records[i].size));
        EXPECT_EQ(std::u16string(walk.descriptions[i]), records[i].description);
    }
}

TEST(CataloguePackageBuilder, RefusesWhatTheWalkWouldRefuse)
{
    const CatalogueRecordInput good{"T0M21F", 1, u"d"};
    const std::vector<std::vector<CatalogueRecordInput>> bad = {
        std::vector<CatalogueRecordInput>(9, good),
        {{std::string(32, 'x'), 1, u"d"}},
        {{"", 1, u"d"}},
        {{"T0M21F", 1, std::u16string(37, u'd')}},
        {{"T0M21F", static_cast<uint32_t>(CATALOGUE_MAX_RECORD_SIZE) + 1, u"d"}},
    };
    for (const auto& records : bad) {
        Bytes package;
        std::string error;
        EXPECT_FALSE(BuildCataloguePackage("M01A", 2, records, &package, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(package.empty());
    }
}

}  // namespace
