// The publisher tool: manifest and naming rules, text conversion, and whole
// subcommands run in-process against a scratch folder.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/ruvo-pack/cli.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/package_reader.h"
#include "tests/support/package_fixtures.h"
#include "tests/unit/tools/ruvo-pack/ruvo_pack_fixture.h"
#include "tools/ruvo-pack/release.h"
#include "update/catalogue.h"
#include "tools/ruvo-pack/utf.h"

namespace fs = std::filesystem;

namespace {

TEST(Utf8ToUtf16, ConvertsValidTextAndRefusesMalformedText)
{
    const struct {
        std::string utf8;
        bool valid;
        std::u16string utf16;
    } cases[] = {
        {"base 1F", true, u"base 1F"},
        {"\xC3\xA9", true, u"\u00e9"},
        {"\xE5\x8F\xB0\xE7\x81\xA3", true, u"\u53f0\u7063"},
        {"\xF0\x9F\x98\x80", true, u"\U0001F600"},  // two code units
        {"\xC0\x80", false, u""},                   // overlong 0
        {"\xE0\x80\xAF", false, u""},               // overlong '/'
        {"\xED\xA0\x80", false, u""},               // surrogate
        {"\xF4\x90\x80\x80", false, u""},           // past U+10FFFF
        {"\xE5\x8F", false, u""},                   // cut short
        {"\x80", false, u""},                       // stray continuation
        {"\xFF", false, u""},
    };
    for (const auto& c : cases) {
        std::u16string out;
        EXPECT_EQ(Utf8ToUtf16(c.utf8, &out), c.valid) << c.utf8;
        if (c.valid) {
            EXPECT_EQ(out, c.utf16);
            EXPECT_EQ(Utf16ToUtf8(out), c.utf8);
        }
    }
}

TEST(RecordNames, FollowTheRulesTheUpdaterReliesOn)
{
    const struct {
        std::vector<std::string> names;
        bool ok;
    } cases[] = {
        {{}, true},
        {{"T0M21F", "V0MA01", "C0M0R1"}, true},
        {{"T0M21f"}, true},
        {{"T0M2ZF"}, false},           // entry 0's characters 4-5 must be hex
        {{"T0M21F", "V0MZZZ"}, true},  // entry 1's second version may be any safe characters
        {{"T0M21"}, false},            // no character 5
        {{std::string("T0M21F") + std::string(25, 'x')}, true},
        {{std::string("T0M21F") + std::string(26, 'x')}, false},
        {{"T0M21F", "V0 A01"}, false},
        {{"T0M21F", "V0M/01"}, false},
        {{"T0M21F", ".0MA01"}, false},  // a hidden file under Pool/
        {{"T0M21F", "V0..01"}, false},  // never a path part, not even in the middle
        {{"T0M21F", "V0M.01"}, true},
        {{"T0M21F", "T0m21f"}, false},  // the same file on a case-blind server
        {std::vector<std::string>(9, "T0M21F"), false},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(CheckRecordNames(c.names, &error), c.ok) << (c.names.empty() ? "" : c.names.back()) << " " << error;
        EXPECT_EQ(error.empty(), c.ok);
    }
}

TEST(Manifest, ParsesModelStatusAndImagesInOrder)
{
    const std::string text =
        "\xEF\xBB\xBF# release 3\r\n"
        "model M01A\r\n"
        "status 3\n"
        "\n"
        "image T0M21F 0 fw/base.bin   Base system 1F  \n"
        "image\tV0MA01\t16\t/abs/second.bin\t\xE5\x8F\xB0\xE7\x81\xA3\n"
        "image C0M0R1 64 region.bin\n";
    Release release;
    std::string error;
    ASSERT_TRUE(ParseManifest(text, "rel", &release, &error)) << error;
    EXPECT_EQ(release.model, "M01A");
    EXPECT_EQ(release.status, 3);
    ASSERT_EQ(release.images.size(), 3u);
    EXPECT_EQ(release.images[0].name, "T0M21F");
    EXPECT_EQ(release.images[0].firstBlock, 0u);
    EXPECT_EQ(release.images[0].firmwarePath, "rel/fw/base.bin");
    EXPECT_EQ(release.images[0].description, u"Base system 1F");
    EXPECT_EQ(release.images[1].firstBlock, 16u);
    EXPECT_EQ(release.images[1].firmwarePath, "/abs/second.bin");
    EXPECT_EQ(release.images[1].description, u"\u53f0\u7063");
    EXPECT_EQ(release.images[2].description, u"");
    EXPECT_EQ(release.images[2].line, 7);
}

TEST(Manifest, ErrorsNameTheirLine)
{
    const struct {
        const char* text;
        const char* where;
    } cases[] = {
        {"model M01A\nimagee T0M21F 0 a.bin x\n", "2: unknown keyword"},
        {"image T0M21F 0 a.bin x\n", "1: the manifest names no model"},
        {"model M01\n", "1: model id"},
        {"model M01A\nmodel M01B\n", "2: a second \"model\""},
        {"model M01A\nstatus 256\n", "2: \"status\""},
        {"model M01A\nimage T0M21F x a.bin d\n", "2: first block"},
        {"model M01A\nimage T0M21F 65536 a.bin d\n", "2: first block"},
        {"model M01A\nimage T0M21F 0\n", "2: \"image\" takes"},
        {"model M01A\n\nimage T0M21F 0 a.bin 1234567890123456789012345678901234567\n", "3: description"},
        {"model M01A\nimage T0M21F 0 a.bin \xC3\n", "2: description"},
        {"model M01A\nimage T0M21F 0 a.bin a\nimage V0MA01 0 b.bin b\nimage T0M21f 0 c.bin c\n", "4: name"},
        {"model M01A\nimage T0MZZF 0 a.bin a\n", "2: record 0"},
    };
    for (const auto& c : cases) {
        Release release;
        std::string error;
        EXPECT_FALSE(ParseManifest(c.text, "", &release, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << "got: " << error;
    }
}

TEST_F(RuvoPackCli, PublishesAReleaseTheUpdaterAccepts)
{
    const Bytes base = Firmware(5000, 1), second = Firmware(256, 2), region = Firmware(4096, 3);
    Write("fw/base.bin", base);
    Write("fw/second.bin", second);
    Write("fw/region.bin", region);
    std::ofstream(Path("release.txt")) << "# test release\n"
                                          "model M01A\n"
                                          "image T0M21F 0 fw/base.bin Base 1F\n"
                                          "image V0MA01 100 fw/second.bin Second A01\n"
                                          "image C0M0R1 200 fw/region.bin \xE5\x8F\xB0\xE7\x81\xA3 region\n";

    const Run run = Pack({"publish", Path("release.txt"), Path("server")});
    ASSERT_EQ(run.exitCode, PACK_EXIT_OK) << run.err;

    // The catalogue, checked and walked as identification does.
    const Bytes stored = Read(Path("server/BRELM/Door/M01A.Bin"));
    Bytes plain;
    ASSERT_EQ(CheckStoredPackage(PACKAGE_CATALOGUE, stored, "M01A", &plain), PACKAGE_OK);
    EXPECT_EQ(plain[10], CATALOGUE_STATUS_CURRENT);
    CatalogueWalk walk;
    ASSERT_EQ(WalkCatalogue(plain.data(), plain.size(), &walk), CATALOGUE_OK);
    ASSERT_EQ(walk.count, 3);
    EXPECT_EQ(std::u16string(walk.optionLines[0]), u" F0R1  [ \u53f0\u7063 region ]");
    EXPECT_STREQ(walk.comparisonText, "A01");

    // Each image, fetched under its record's name and checked under characters 2-5 of it.
    const Bytes* firmware[] = {&base, &second, &region};
    const uint16_t firstBlocks[] = {0, 100, 200};
    for (int i = 0; i < 3; ++i) {
        const std::string name = walk.entries[i].name;
        const Bytes image = Read(Path("server/BRELM/Pool/" + name));
        EXPECT_EQ(static_cast<int32_t>(image.size()), walk.entries[i].size) << name;
        Bytes plainImage;
        ASSERT_EQ(CheckStoredPackage(PACKAGE_IMAGE, image, name.substr(2, 4), &plainImage), PACKAGE_OK) << name;
        PackageHeader header;
        std::memcpy(&header, plainImage.data(), sizeof header);
        EXPECT_EQ(PackageFirstBlock(header), firstBlocks[i]);
        EXPECT_TRUE(std::equal(firmware[i]->begin(), firmware[i]->end(), plainImage.begin() + 32)) << name;
    }

    const Run verified = Pack({"verify", "catalogue", "M01A", Path("server/BRELM/Door/M01A.Bin")});
    EXPECT_EQ(verified.exitCode, PACK_EXIT_OK);
    EXPECT_NE(verified.out.find("0 PACKAGE_OK: the package is accepted"), std::string::npos) << verified.out;
    EXPECT_NE(verified.out.find("0 CATALOGUE_OK"), std::string::npos) << verified.out;

    const Run inspected = Pack({"inspect", Path("server/BRELM/Door/M01A.Bin")});
    EXPECT_EQ(inspected.exitCode, PACK_EXIT_OK);
    EXPECT_NE(inspected.out.find("package id:   \"M01A\""), std::string::npos) << inspected.out;
    EXPECT_NE(inspected.out.find("[2] C0M0R1  size " + std::to_string(walk.entries[2].size)), std::string::npos)
        << inspected.out;
}

TEST_F(RuvoPackCli, ReleaseBreakingARuleWritesNothing)
{
    Write("a.bin", Firmware(10, 1));
    std::ofstream(Path("release.txt")) << "model M01A\n"
                                          "image T0M21F 0 a.bin a\n"
                                          "image V0M 0 a.bin b\n";
    const Run run = Pack({"publish", Path("release.txt"), Path("server")});
    EXPECT_EQ(run.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(run.err.find("release.txt:3: name \"V0M\""), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Path("server")));

    std::ofstream(Path("big.txt")) << "model M01A\nimage T0M21F 511 big.bin a\n";
    Write("big.bin", Firmware(4097, 1));
    const Run tooBig = Pack({"publish", Path("big.txt"), Path("server")});
    EXPECT_EQ(tooBig.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(tooBig.err.find("big.txt:2: T0M21F: the firmware does not fit the flash"), std::string::npos)
        << tooBig.err;
    EXPECT_FALSE(fs::exists(Path("server")));
}

TEST_F(RuvoPackCli, ImageAndCatalogueCommandsAndVerifyOfRefusals)
{
    Write("fw.bin", Firmware(300, 9));
    ASSERT_EQ(Pack({"image", "--id", "M21F", "--first-block", "3", "-o", Path("T0M21F"), Path("fw.bin")}).exitCode,
              PACK_EXIT_OK);
    const Run made =
        Pack({"catalogue", "--model", "M01A", "-o", Path("M01A.Bin"), "--record", "T0M21F", Path("T0M21F"), "base"});
    ASSERT_EQ(made.exitCode, PACK_EXIT_OK) << made.err;
    EXPECT_EQ(Pack({"verify", "image", "M21F", Path("T0M21F")}).exitCode, PACK_EXIT_OK);

    // The updater's refusals, with code, name and meaning.
    const Run wrongId = Pack({"verify", "image", "M22F", Path("T0M21F")});
    EXPECT_EQ(wrongId.exitCode, PACK_EXIT_REFUSED);
    EXPECT_EQ(wrongId.out, "-7 PACKAGE_BAD_ID: the package id differs from the expected id\n");
    Bytes spoiled = Read(Path("M01A.Bin"));
    spoiled[40] ^= 0x10;
    Write("spoiled.Bin", spoiled);
    const Run badXor = Pack({"verify", "catalogue", "M01A", Path("spoiled.Bin")});
    EXPECT_EQ(badXor.exitCode, PACK_EXIT_REFUSED);
    EXPECT_EQ(badXor.out.rfind("-4 PACKAGE_BAD_XOR", 0), 0u) << badXor.out;

    // A record whose package does not carry the id its name implies.
    const Run mismatch =
        Pack({"catalogue", "--model", "M01A", "-o", Path("x.Bin"), "--record", "T0M31F", Path("T0M21F"), "base"});
    EXPECT_EQ(mismatch.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(mismatch.err.find("PACKAGE_BAD_ID"), std::string::npos) << mismatch.err;

    const Run inspected = Pack({"inspect", Path("T0M21F")});
    EXPECT_EQ(inspected.exitCode, PACK_EXIT_OK);
    EXPECT_NE(inspected.out.find("kind:         image (32)"), std::string::npos) << inspected.out;
    EXPECT_NE(inspected.out.find("tail pages:   2"), std::string::npos) << inspected.out;
}

TEST_F(RuvoPackCli, UsageAndFileErrorsHaveTheirOwnExitCodes)
{
    EXPECT_EQ(Pack({}).exitCode, PACK_EXIT_USAGE);
    EXPECT_EQ(Pack({"frobnicate"}).exitCode, PACK_EXIT_USAGE);
    EXPECT_EQ(Pack({"verify", "firmware", "0M21", Path("x")}).exitCode, PACK_EXIT_USAGE);
    EXPECT_EQ(Pack({"image", "--id", "0M21", "-o", Path("x"), Path("fw.bin")}).exitCode, PACK_EXIT_USAGE);
    Write("fw.bin", Firmware(10, 1));
    EXPECT_EQ(Pack({"image", "--id", "0M2", "--first-block", "0", "-o", Path("x"), Path("fw.bin")}).exitCode,
              PACK_EXIT_BAD_INPUT);
    EXPECT_EQ(Pack({"image", "--id", "WX/Z", "--first-block", "0", "-o", Path("x"), Path("fw.bin")}).exitCode,
              PACK_EXIT_BAD_INPUT);
    EXPECT_EQ(Pack({"image", "--id", "WXYZ", "--first-block", "0", "-o", Path("x"), Path("fw.bin")}).exitCode,
              PACK_EXIT_OK);
    EXPECT_EQ(Pack({"verify", "image", "0M21", Path("missing")}).exitCode, PACK_EXIT_IO);
    EXPECT_EQ(Pack({"publish", Path("missing.txt"), Path("server")}).exitCode, PACK_EXIT_IO);
    const Run help = Pack({"--help"});
    EXPECT_EQ(help.exitCode, PACK_EXIT_OK);
    EXPECT_NE(help.out.find("publish MANIFEST OUTDIR"), std::string::npos);
}

TEST_F(RuvoPackCli, IdsHaveExactlyFourCharactersEverywhere)
{
    Write("fw.bin", Firmware(300, 9));
    ASSERT_EQ(Pack({"image", "--id", "M21F", "--first-block", "3", "-o", Path("T0M21F"), Path("fw.bin")}).exitCode,
              PACK_EXIT_OK);
    const std::vector<std::string> cases[] = {
        {"verify", "image", "M21FX", Path("T0M21F")},
        {"verify", "image", "M21", Path("T0M21F")},
        {"verify", "catalogue", "", Path("T0M21F")},
        {"inspect", "--id", "M21", Path("T0M21F")},
        {"inspect", "--id", "M21FX", Path("T0M21F")},
        {"image", "--id", "M21FX", "--first-block", "0", "-o", Path("x"), Path("fw.bin")},
    };
    for (const auto& args : cases) {
        const Run run = Pack(args);
        EXPECT_EQ(run.exitCode, PACK_EXIT_BAD_INPUT) << args[0] << " " << args[2];
        EXPECT_NE(run.err.find("must be exactly 4 characters"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Pack({"inspect", "--id", "M21F", Path("T0M21F")}).exitCode, PACK_EXIT_OK);
}

TEST_F(RuvoPackCli, InspectSaysNotAPackageInsteadOfGuessing)
{
    Bytes noise(4000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 7919u) >> 3);
    Write("noise", noise);
    Write("short", Bytes(20, 0xAB));
    const struct {
        const char* file;
        const char* says;
    } cases[] = {{"noise", "not a package: no key reveals the package magic"},
                 {"short", "not a package: shorter than the 32-byte header"}};
    for (const auto& c : cases) {
        const Run run = Pack({"inspect", Path(c.file)});
        EXPECT_EQ(run.exitCode, PACK_EXIT_REFUSED) << c.file;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("total length"), std::string::npos) << run.out;
    }
    std::ofstream(Path("empty"));
    const Run empty = Pack({"inspect", Path("empty")});
    EXPECT_EQ(empty.exitCode, PACK_EXIT_IO);
    EXPECT_NE(empty.err.find("\"" + Path("empty") + "\" is empty: not a package"), std::string::npos) << empty.err;
}

TEST_F(RuvoPackCli, MessagesEscapeControlCharactersAndNameTheirSource)
{
    Write("fw.bin", Firmware(300, 9));
    ASSERT_EQ(Pack({"image", "--id", "M21F", "--first-block", "3", "-o", Path("T0M21F"), Path("fw.bin")}).exitCode,
              PACK_EXIT_OK);
    const Run control = Pack(
        {"catalogue", "--model", "M01A", "-o", Path("c.Bin"), "--record", "T0M21F", Path("T0M21F"), "a\x1b[2Jb\x7f"});
    EXPECT_EQ(control.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(control.err.find("\"a\\x1B[2Jb\\x7F\" contains a control character"), std::string::npos) << control.err;
    EXPECT_EQ(control.err.find('\x1b'), std::string::npos);
    // C1 controls, as UTF-8 and as single bytes; a bad byte leaves the valid text beside it as it is.
    const Run c1 = Pack({"frob\xC2\x9B\x32J\x9B\x32J\xFF\xE5\x8F\xB0"});  // \x32 is '2'
    EXPECT_EQ(c1.exitCode, PACK_EXIT_USAGE);
    EXPECT_NE(c1.err.find("unknown command \"frob\\u009B2J\\x9B2J\\xFF\xE5\x8F\xB0\""), std::string::npos) << c1.err;

    const Run badName =
        Pack({"catalogue", "--model", "M01A", "-o", Path("c.Bin"), "--record", "T0MZZF", Path("T0M21F"), "x"});
    EXPECT_NE(badName.err.find("record 0 \"T0MZZF\""), std::string::npos) << badName.err;

    std::ofstream(Path("release.txt")) << "model M01A\nimage T0M21F 0 fw.bin a\nimage V0MA01 0 gone.bin b\n";
    const Run missing = Pack({"publish", Path("release.txt"), Path("www")});
    EXPECT_EQ(missing.exitCode, PACK_EXIT_IO);
    EXPECT_NE(
        missing.err.find(Path("release.txt") + ":3: V0MA01: firmware \"" + Path("gone.bin") + "\" cannot be opened"),
        std::string::npos)
        << missing.err;
    EXPECT_FALSE(fs::exists(Path("www")));
}

TEST_F(RuvoPackCli, HelpAfterACommandAndVersion)
{
    const struct {
        std::vector<std::string> args;
        const char* shows;
    } cases[] = {
        {{"image", "--help"}, "  image --id ID --first-block N -o PACKAGE FIRMWARE\n"},
        {{"publish", "manifest.txt", "-h"},
         "  publish MANIFEST OUTDIR [--keep N] [--replace] [--sign KEY.pem... (--expires DAYS | --no-expiry) "
         "[--format-1-too] | --unsigned] [--key PUB.pem]...\n"},
        {{"refresh", "--help"}, "  refresh OUTDIR --sign KEY.pem... (--expires DAYS | --no-expiry)"},
        {{"rollback", "--help"}, "5 another publish holds OUTDIR/.lock"},
        {{"--help"}, "  releases OUTDIR\n"},
        {{"--version"}, "ruvo-pack 2."},
    };
    for (const auto& c : cases) {
        const Run run = Pack(c.args);
        EXPECT_EQ(run.exitCode, PACK_EXIT_OK) << c.args[0];
        EXPECT_NE(run.out.find(c.shows), std::string::npos) << run.out;
    }
    EXPECT_EQ(Pack({"image", "--help"}).out.find("verify"), std::string::npos);
}

}  // namespace
