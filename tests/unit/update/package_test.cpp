// CheckPackage: key positions, the results in their order of testing, and the
// refusals that keep every read inside the buffer and every image inside its body.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/support/package_fixtures.h"

namespace {

// The key as seen through image-mode obfuscation of zeros: byte i of a header
// takes key position (base + i) mod 64, so three bases cover all 64 positions.
Bytes KeySeenThroughImageMode()
{
    Bytes key(PACKAGE_KEY_LENGTH);
    for (uint32_t base : {0u, 24u, 48u}) {
        Bytes zeros(PACKAGE_HEADER_LENGTH, 0);
        ObfuscatePackageAt(PACKAGE_IMAGE, zeros.data(), zeros.size(), base);
        for (uint32_t i = 8; i < PACKAGE_HEADER_LENGTH; ++i) key[(base + i) % 64] = zeros[i];
    }
    return key;
}

int KeyPositionOf(const Bytes& key, uint8_t value)
{
    return static_cast<int>(std::find(key.begin(), key.end(), value) - key.begin());
}

TEST(PackageKey, WorkedExampleOfKeyPositionsForIdABCD)
{
    const Bytes key = KeySeenThroughImageMode();
    // Distinct key bytes let a de-obfuscated zero name its key position.
    ASSERT_EQ(std::set<uint8_t>(key.begin(), key.end()).size(), 64u);

    const Bytes zeros(96, 0);
    const CheckRun catalogue = Check(PACKAGE_CATALOGUE, zeros, 96, "ABCD");
    EXPECT_EQ(catalogue.code, PACKAGE_BAD_ID);
    EXPECT_EQ(KeyPositionOf(key, catalogue.after[8]), 38);
    EXPECT_EQ(KeyPositionOf(key, catalogue.after[31]), 61);
    EXPECT_EQ(KeyPositionOf(key, catalogue.after[32]), 32);  // row 1 starts at base + 2
    EXPECT_EQ(KeyPositionOf(key, catalogue.after[63]), 63);
    EXPECT_EQ(KeyPositionOf(key, catalogue.after[64]), 34);  // row 2 starts at base + 4
    for (int i = 0; i < 8; ++i) EXPECT_EQ(catalogue.after[i], 0) << "magic byte " << i;

    const CheckRun image = Check(PACKAGE_IMAGE, zeros, 96, "ABCD");
    EXPECT_EQ(KeyPositionOf(key, image.after[8]), 38);
    EXPECT_EQ(KeyPositionOf(key, image.after[31]), 61);
    EXPECT_TRUE(std::all_of(image.after.begin() + 32, image.after.end(), [](uint8_t b) { return b == 0; }));
}

TEST(PackageKey, IdsWithEqualSumsModulo64ShareKeyPositions)
{
    auto hidden = [](const char* id) {
        Bytes zeros(200, 0);
        ObfuscatePackage(PACKAGE_CATALOGUE, zeros.data(), zeros.size(), id);
        return zeros;
    };
    EXPECT_EQ(hidden("ABCD"), hidden("DCBA"));
    EXPECT_EQ(hidden("ABCD"), hidden("BADC"));
    EXPECT_EQ(hidden("ABCD"), hidden("ABC\x84"));  // +64 on one character: same base
    EXPECT_NE(hidden("ABCD"), hidden("ABCE"));
}

class CheckPackageTest : public ::testing::Test {
protected:
    const char* id = "M01A";
    Bytes plainCatalogue = PlainCatalogue(Concat({RecordBytes("T0M21F", 4128, u"base"), Bytes{0}}));
    Bytes catalogue = Sealed(PACKAGE_CATALOGUE, plainCatalogue, id);
    Bytes plainImage = PlainImage(3, 4, 2, 4096 + 512);
    Bytes image = Sealed(PACKAGE_IMAGE, plainImage, "0M21");
};

TEST_F(CheckPackageTest, AcceptsWellMadePackagesAndLeavesThemPlain)
{
    const CheckRun c = Check(PACKAGE_CATALOGUE, catalogue, id);
    EXPECT_EQ(c.code, PACKAGE_OK);
    EXPECT_EQ(c.after[10], 2);  // status
    EXPECT_EQ(std::string(c.after.begin() + 16, c.after.begin() + 20), "M01A");
    EXPECT_TRUE(std::equal(plainCatalogue.begin() + 32, plainCatalogue.end(), c.after.begin() + 32));

    const CheckRun i = Check(PACKAGE_IMAGE, image, "0M21");
    EXPECT_EQ(i.code, PACKAGE_OK);
    EXPECT_EQ(i.after[27], 2);  // tailPages
    EXPECT_EQ(i.after[29], 3);  // firstBlock low byte
    EXPECT_EQ(i.after[31], 4);  // lastBlock low byte
}

TEST_F(CheckPackageTest, NullBufferIsRefusedFirstInEitherMode)
{
    for (int mode : {PACKAGE_CATALOGUE, PACKAGE_IMAGE}) {
        EXPECT_EQ(CheckPackage(mode, nullptr, 5000, id, 16384), PACKAGE_NO_BUFFER);
        EXPECT_EQ(CheckPackage(mode, nullptr, 100, id, 16384), PACKAGE_NO_BUFFER);
    }
}

TEST_F(CheckPackageTest, BufferTooSmallForAHeaderIsRefusedUntouched)
{
    const Bytes small(catalogue.begin(), catalogue.begin() + 31);
    for (int mode : {PACKAGE_CATALOGUE, PACKAGE_IMAGE}) {
        const CheckRun run = Check(mode, small, 31, id, 31);
        EXPECT_EQ(run.code, PACKAGE_NO_BUFFER);
        EXPECT_EQ(run.after, small);
    }
}

TEST_F(CheckPackageTest, UnknownModeIsRefusedUntouched)
{
    const CheckRun run = Check(6, catalogue, id);
    EXPECT_EQ(run.code, PACKAGE_BAD_MODE);
    EXPECT_EQ(run.after, catalogue);
}

TEST_F(CheckPackageTest, CatalogueSizeLimitIs2048Bytes)
{
    Bytes body = Concat({RecordBytes("T0M21F", 4128, u"base"), Bytes{0}});
    body.resize(CATALOGUE_MAX_LENGTH - PACKAGE_HEADER_LENGTH, 0);  // padding after the list
    const Bytes full = Sealed(PACKAGE_CATALOGUE, PlainCatalogue(body), id);
    ASSERT_EQ(full.size(), 2048u);
    EXPECT_EQ(Check(PACKAGE_CATALOGUE, full, id).code, PACKAGE_OK);

    Bytes over = full;
    over.push_back(0);
    const CheckRun tooLarge = Check(PACKAGE_CATALOGUE, over, 2049, id);
    EXPECT_EQ(tooLarge.code, PACKAGE_TOO_LARGE);
    EXPECT_EQ(tooLarge.after, over);  // refused before any byte changes

    const CheckRun failedDownload = Check(PACKAGE_CATALOGUE, catalogue, 4294967295u, id, 16384);
    EXPECT_EQ(failedDownload.code, PACKAGE_TOO_LARGE);
}

// One stored package spoiled in one way per row; the expected result shows
// which test comes first.
struct Spoil {
    const char* what;
    int mode;
    void (*apply)(Bytes& stored, uint32_t& length);
    int32_t expected;
};

void FlipByte(Bytes& b, size_t offset)
{
    b[offset] ^= 0x01;
}

const Spoil SPOILS[] = {
    {"id and magic wrong: id first", PACKAGE_CATALOGUE,
     [](Bytes& b, uint32_t&) {
         FlipByte(b, 0);
         FlipByte(b, 17);
     },
     PACKAGE_BAD_ID},
    {"id and magic wrong (image)", PACKAGE_IMAGE,
     [](Bytes& b, uint32_t&) {
         FlipByte(b, 7);
         FlipByte(b, 19);
     },
     PACKAGE_BAD_ID},
    {"magic wrong", PACKAGE_CATALOGUE, [](Bytes& b, uint32_t&) { FlipByte(b, 7); }, PACKAGE_BAD_MAGIC},
    {"magic and length wrong: magic first", PACKAGE_IMAGE,
     [](Bytes& b, uint32_t&) {
         FlipByte(b, 0);
         FlipByte(b, 23);
     },
     PACKAGE_BAD_MAGIC},
    {"length field wrong", PACKAGE_CATALOGUE, [](Bytes& b, uint32_t&) { FlipByte(b, 23); }, PACKAGE_BAD_LENGTH},
    {"length argument short", PACKAGE_IMAGE, [](Bytes&, uint32_t& n) { --n; }, PACKAGE_BAD_LENGTH},
    {"failed download as image", PACKAGE_IMAGE, [](Bytes&, uint32_t& n) { n = 4294967295u; }, PACKAGE_BAD_LENGTH},
    {"length and xor wrong: length first", PACKAGE_CATALOGUE,
     [](Bytes& b, uint32_t&) {
         FlipByte(b, 22);
         FlipByte(b, 40);
     },
     PACKAGE_BAD_LENGTH},
    {"status byte", PACKAGE_CATALOGUE, [](Bytes& b, uint32_t&) { FlipByte(b, 10); }, PACKAGE_BAD_XOR},
    {"unused byte 15", PACKAGE_CATALOGUE, [](Bytes& b, uint32_t&) { FlipByte(b, 15); }, PACKAGE_BAD_XOR},
    {"unused byte 24", PACKAGE_IMAGE, [](Bytes& b, uint32_t&) { FlipByte(b, 24); }, PACKAGE_BAD_XOR},
    {"tail pages", PACKAGE_IMAGE, [](Bytes& b, uint32_t&) { FlipByte(b, 27); }, PACKAGE_BAD_XOR},
    {"catalogue body", PACKAGE_CATALOGUE, [](Bytes& b, uint32_t&) { FlipByte(b, 33); }, PACKAGE_BAD_XOR},
    {"last byte", PACKAGE_CATALOGUE, [](Bytes& b, uint32_t&) { FlipByte(b, b.size() - 1); }, PACKAGE_BAD_XOR},
    {"image body", PACKAGE_IMAGE, [](Bytes& b, uint32_t&) { FlipByte(b, 1000); }, PACKAGE_BAD_XOR},
    {"xor check byte itself", PACKAGE_IMAGE, [](Bytes& b, uint32_t&) { FlipByte(b, 8); }, PACKAGE_BAD_XOR},
    {"sum check byte itself", PACKAGE_IMAGE, [](Bytes& b, uint32_t&) { FlipByte(b, 9); }, PACKAGE_BAD_SUM},
};

TEST_F(CheckPackageTest, ResultsComeInTheirOrderOfTesting)
{
    for (const Spoil& spoil : SPOILS) {
        Bytes stored = spoil.mode == PACKAGE_CATALOGUE ? catalogue : image;
        const char* checkId = spoil.mode == PACKAGE_CATALOGUE ? id : "0M21";
        uint32_t length = static_cast<uint32_t>(stored.size());
        spoil.apply(stored, length);
        EXPECT_EQ(Check(spoil.mode, stored, length, checkId, stored.size()).code, spoil.expected) << spoil.what;
    }
}

TEST_F(CheckPackageTest, WrongIdStillLeavesTheBufferDeobfuscated)
{
    const CheckRun run = Check(PACKAGE_CATALOGUE, catalogue, "M01B");
    EXPECT_EQ(run.code, PACKAGE_BAD_ID);
    Bytes expected = catalogue;
    ObfuscatePackage(PACKAGE_CATALOGUE, expected.data(), expected.size(), "M01B");
    EXPECT_EQ(run.after, expected);
}

TEST_F(CheckPackageTest, SameBitSetInTwoBytesKeepsTheXorButNotTheSum)
{
    // Body bytes 0 and 7 of the plain image hold 0x01 and 0x32: bits 0x04 and 0x80 are clear in both.
    ASSERT_EQ(plainImage[32] & 0x84, 0);
    ASSERT_EQ(plainImage[39] & 0x84, 0);
    Bytes low = image;
    low[32] |= 0x04;
    low[39] |= 0x04;
    EXPECT_EQ(Check(PACKAGE_IMAGE, low, "0M21").code, PACKAGE_BAD_SUM);

    Bytes high = image;  // two times 0x80 is 256: the sum modulo 256 does not move
    high[32] |= 0x80;
    high[39] |= 0x80;
    EXPECT_EQ(Check(PACKAGE_IMAGE, high, "0M21").code, PACKAGE_OK);

    // The same in an obfuscated catalogue: flipping a stored bit flips the plain one.
    Bytes plain = catalogue;
    ObfuscatePackage(PACKAGE_CATALOGUE, plain.data(), plain.size(), id);
    const size_t a = 33, b = 34;  // two name characters; find a bit below 0x80 clear in both
    uint8_t bit = 0x01;
    while ((plain[a] & bit) || (plain[b] & bit)) bit = static_cast<uint8_t>(bit << 1);
    ASSERT_LT(bit, 0x80);
    Bytes spoiled = catalogue;
    spoiled[a] ^= bit;
    spoiled[b] ^= bit;
    EXPECT_EQ(Check(PACKAGE_CATALOGUE, spoiled, id).code, PACKAGE_BAD_SUM);
}

TEST_F(CheckPackageTest, IdCharacterFrom0x80NeverMatches)
{
    for (const char* badId : {"\x80"
                              "01A",
                              "M0\xFF"
                              "A",
                              "M01\xC1"}) {
        const Bytes stored = Sealed(PACKAGE_CATALOGUE, plainCatalogue, badId);
        EXPECT_EQ(Check(PACKAGE_CATALOGUE, stored, badId).code, PACKAGE_BAD_ID);
        const Bytes storedImage = Sealed(PACKAGE_IMAGE, plainImage, badId);
        EXPECT_EQ(Check(PACKAGE_IMAGE, storedImage, badId).code, PACKAGE_BAD_ID);
    }
}

TEST_F(CheckPackageTest, ImageBodyReachesTheCallerExactlyAsStored)
{
    const CheckRun run = Check(PACKAGE_IMAGE, image, "0M21");
    ASSERT_EQ(run.code, PACKAGE_OK);
    EXPECT_TRUE(std::equal(image.begin() + 32, image.end(), run.after.begin() + 32));
    EXPECT_TRUE(std::equal(plainImage.begin() + 10, plainImage.begin() + 16, run.after.begin() + 10));
    EXPECT_TRUE(std::equal(plainImage.begin() + 24, plainImage.begin() + 32, run.after.begin() + 24));
    EXPECT_FALSE(std::equal(image.begin() + 8, image.begin() + 32, run.after.begin() + 8));
}

TEST_F(CheckPackageTest, CatalogueWithNoRecordsIsValid)
{
    const Bytes empty = Sealed(PACKAGE_CATALOGUE, PlainCatalogue(Bytes{0}), id);
    const CheckRun run = Check(PACKAGE_CATALOGUE, empty, id);
    EXPECT_EQ(run.code, PACKAGE_OK);
    EXPECT_EQ(run.after[32], 0);
}

TEST_F(CheckPackageTest, LengthBeyondTheBufferIsRefusedJustBeforeTheSums)
{
    // A header and a length argument that agree on 4294967295: only the buffer guard stops the sums.
    Bytes stored = image;
    ObfuscatePackage(PACKAGE_IMAGE, stored.data(), stored.size(), "0M21");
    WriteBigEndian32(stored.data() + 20, 4294967295u);
    ObfuscatePackage(PACKAGE_IMAGE, stored.data(), stored.size(), "0M21");
    EXPECT_EQ(Check(PACKAGE_IMAGE, stored, 4294967295u, "0M21", stored.size()).code, PACKAGE_BEYOND_BUFFER);
    // ... but a wrong magic is still reported first.
    stored[0] ^= 1;
    EXPECT_EQ(Check(PACKAGE_IMAGE, stored, 4294967295u, "0M21", stored.size()).code, PACKAGE_BAD_MAGIC);

    // A catalogue claiming more than its buffer: de-obfuscation stops at the capacity.
    Bytes plainLong = plainCatalogue;
    plainLong.resize(1500, 0);
    const Bytes longCatalogue = Sealed(PACKAGE_CATALOGUE, plainLong, id);
    const CheckRun cut = Check(PACKAGE_CATALOGUE, longCatalogue, 1500, id, 100);
    EXPECT_EQ(cut.code, PACKAGE_BEYOND_BUFFER);
    ASSERT_EQ(cut.after.size(), 100u);
    EXPECT_TRUE(std::equal(plainLong.begin() + 32, plainLong.begin() + 100, cut.after.begin() + 32));
}

struct LayoutCase {
    uint16_t first, last;
    uint8_t tail;
    size_t dataLength;
    int32_t expected;
};

TEST_F(CheckPackageTest, ImageHeaderMustFitItsBody)
{
    const LayoutCase cases[] = {
        {5, 5, 1, 256, PACKAGE_OK},               // tail only
        {5, 5, 16, 4096, PACKAGE_OK},             // a whole block as tail
        {5, 7, 3, 2 * 4096 + 768, PACKAGE_OK},    // exact fit
        {5, 7, 3, 2 * 4096 + 769, PACKAGE_OK},    // the package may carry more
        {5, 5, 0, 0, PACKAGE_OK},                 // nothing but an erase of block 5
        {511, 511, 16, 4096, PACKAGE_OK},         // the flash's last block
        {511, 512, 0, 4096, PACKAGE_BAD_LAYOUT},  // a block past the flash
        {5, 5, 17, 17 * 256, PACKAGE_BAD_LAYOUT},
        {6, 5, 0, 4096, PACKAGE_BAD_LAYOUT},
        {0, 65535, 0, 4096, PACKAGE_BAD_LAYOUT},
        {5, 7, 3, 2 * 4096 + 767, PACKAGE_BAD_LAYOUT},
        {5, 6, 0, 4095, PACKAGE_BAD_LAYOUT},
        {0, 0, 1, 255, PACKAGE_BAD_LAYOUT},
    };
    for (const LayoutCase& c : cases) {
        const Bytes stored = Sealed(PACKAGE_IMAGE, PlainImage(c.first, c.last, c.tail, c.dataLength), "0M21");
        EXPECT_EQ(Check(PACKAGE_IMAGE, stored, "0M21").code, c.expected)
            << c.first << ".." << c.last << " tail " << int(c.tail) << " data " << c.dataLength;
    }
}

TEST_F(CheckPackageTest, LayoutIsTestedOnlyAfterTheSumsAndOnlyForImages)
{
    Bytes stored = Sealed(PACKAGE_IMAGE, PlainImage(5, 5, 17, 0), "0M21");
    EXPECT_EQ(Check(PACKAGE_IMAGE, stored, "0M21").code, PACKAGE_BAD_LAYOUT);
    stored[9] ^= 1;
    EXPECT_EQ(Check(PACKAGE_IMAGE, stored, "0M21").code, PACKAGE_BAD_SUM);

    Bytes plain = plainCatalogue;
    plain[27] = 200;  // means nothing in a catalogue
    plain[28] = 9;
    EXPECT_EQ(Check(PACKAGE_CATALOGUE, Sealed(PACKAGE_CATALOGUE, plain, id), id).code, PACKAGE_OK);
}

TEST(PackageResultText, EveryCodeHasItsOwnNameAndMeaning)
{
    const struct {
        int32_t code;
        const char* name;
    } codes[] = {
        {PACKAGE_OK, "PACKAGE_OK"},
        {PACKAGE_NO_BUFFER, "PACKAGE_NO_BUFFER"},
        {PACKAGE_BAD_MAGIC, "PACKAGE_BAD_MAGIC"},
        {PACKAGE_BAD_LENGTH, "PACKAGE_BAD_LENGTH"},
        {PACKAGE_BAD_XOR, "PACKAGE_BAD_XOR"},
        {PACKAGE_BAD_SUM, "PACKAGE_BAD_SUM"},
        {PACKAGE_TOO_LARGE, "PACKAGE_TOO_LARGE"},
        {PACKAGE_BAD_ID, "PACKAGE_BAD_ID"},
        {PACKAGE_BEYOND_BUFFER, "PACKAGE_BEYOND_BUFFER"},
        {PACKAGE_BAD_LAYOUT, "PACKAGE_BAD_LAYOUT"},
        {PACKAGE_BAD_MODE, "PACKAGE_BAD_MODE"},
    };
    std::set<std::string> meanings;
    for (const auto& c : codes) {
        EXPECT_STREQ(PackageResultName(c.code), c.name);
        meanings.insert(PackageResultMeaning(c.code));
    }
    EXPECT_EQ(meanings.size(), std::size(codes));
    EXPECT_STREQ(PackageResultName(-11), "PACKAGE_UNKNOWN");
    EXPECT_STREQ(PackageResultName(1), "PACKAGE_UNKNOWN");
}

}  // namespace
