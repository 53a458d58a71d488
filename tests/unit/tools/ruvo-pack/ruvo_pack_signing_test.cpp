// ruvo-pack's signing commands, run in-process against a scratch folder:
// keygen, publish --sign and verify-release.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/ruvo-pack/cli.h"
#include "tools/ruvo-pack/files.h"
#include "tests/support/package_fixtures.h"
#include "tests/unit/tools/ruvo-pack/ruvo_pack_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string KEY_A = std::string(TEST_KEYS_DIR) + "/test-only-release-key-a";
const std::string KEY_B = std::string(TEST_KEYS_DIR) + "/test-only-release-key-b";

class RuvoPackSigning : public RuvoPackCli {
protected:
    void SetUp() override
    {
        RuvoPackCli::SetUp();
        fs::create_directories(dir / "fw");
    }

    // A signed release of model M01A with three images in Path("server").
    void PublishSigned(const std::string& key = KEY_A + ".pem")
    {
        for (int i = 0; i < 3; ++i) {
            std::ofstream(Path("fw/" + std::to_string(i) + ".bin"), std::ios::binary)
                << std::string(1000 + 3000 * i, static_cast<char>('a' + i));
        }
        std::ofstream(Path("release.txt")) << "model M01A\n"
                                              "image T0M21F 0 fw/0.bin Base\n"
                                              "image V0MA01 100 fw/1.bin Second\n"
                                              "image C0M0R1 200 fw/2.bin Region\n";
        const Run run = Pack({"publish", Path("release.txt"), Path("server"), "--sign", key});
        ASSERT_EQ(run.exitCode, PACK_EXIT_OK) << run.err;
        ASSERT_NE(run.out.find("M01A.Sig: release statement"), std::string::npos) << run.out;
    }

    Run VerifyRelease(const std::string& publicKey = KEY_A + ".pub.pem") const
    {
        return Pack({"verify-release", Path("server"), "M01A", "--key", publicKey});
    }
};

TEST_F(RuvoPackSigning, KeygenWritesAPrivateKeyOnlyItsOwnerReadsAndNeverOverwrites)
{
    const Run run = Pack({"keygen", Path("publisher")});
    ASSERT_EQ(run.exitCode, PACK_EXIT_OK) << run.err;
    EXPECT_NE(run.out.find("key id "), std::string::npos);
    struct stat info;
    ASSERT_EQ(stat(Path("publisher.pem").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_TRUE(fs::exists(Path("publisher.pub.pem")));

    Bytes before, after;
    std::string error;
    ASSERT_TRUE(ReadWholeFile(Path("publisher.pem"), 1 << 22, &before, &error));
    const Run again = Pack({"keygen", Path("publisher")});
    EXPECT_EQ(again.exitCode, PACK_EXIT_IO);
    EXPECT_NE(again.err.find("never overwritten"), std::string::npos) << again.err;
    ASSERT_TRUE(ReadWholeFile(Path("publisher.pem"), 1 << 22, &after, &error));
    EXPECT_EQ(before, after);

    // The new pair signs a release that verifies under its public half.
    PublishSigned(Path("publisher.pem"));
    EXPECT_EQ(VerifyRelease(Path("publisher.pub.pem")).exitCode, PACK_EXIT_OK);
}

TEST_F(RuvoPackSigning, ASignedReleaseVerifiesUnderItsKeyOnly)
{
    PublishSigned();
    const Run good = VerifyRelease();
    EXPECT_EQ(good.exitCode, PACK_EXIT_OK) << good.out << good.err;
    EXPECT_NE(good.out.find("image 2 C0M0R1: ok"), std::string::npos) << good.out;

    const Run other = VerifyRelease(KEY_B + ".pub.pem");
    EXPECT_EQ(other.exitCode, PACK_EXIT_REFUSED);
    EXPECT_NE(other.out.find("STATEMENT_BAD_SIGNATURE"), std::string::npos) << other.out;
}

TEST_F(RuvoPackSigning, VerifyReleaseNamesEachChangedFile)
{
    PublishSigned();
    // Image 1 changed by one firmware byte and image 2 cut short.
    Bytes image;
    std::string error;
    ASSERT_TRUE(ReadWholeFile(Path("server/BRELM/Pool/V0MA01"), 1 << 22, &image, &error));
    image[100] ^= 0x20;
    ASSERT_TRUE(WriteWholeFile(Path("server/BRELM/Pool/V0MA01"), image, &error));
    ASSERT_TRUE(ReadWholeFile(Path("server/BRELM/Pool/C0M0R1"), 1 << 22, &image, &error));
    image.pop_back();
    ASSERT_TRUE(WriteWholeFile(Path("server/BRELM/Pool/C0M0R1"), image, &error));

    const Run run = VerifyRelease();
    EXPECT_EQ(run.exitCode, PACK_EXIT_REFUSED);
    EXPECT_NE(run.out.find("image 0 T0M21F: ok"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("image 1 V0MA01: SHA-256 differs"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("image 2 C0M0R1: length differs"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("2 failures"), std::string::npos) << run.out;

    // A missing statement is named too.
    fs::remove(Path("server/BRELM/Door/M01A.Sig"));
    const Run missing = VerifyRelease();
    EXPECT_EQ(missing.exitCode, PACK_EXIT_REFUSED);
    EXPECT_NE(missing.out.find("statement"), std::string::npos) << missing.out;
}

TEST_F(RuvoPackSigning, AFileWithBothHalvesOfOnePairSignsAndOneOfTwoPairsIsRefused)
{
    auto join = [this](const std::string& name, const std::string& first, const std::string& second) {
        std::ofstream(Path(name)) << std::ifstream(first).rdbuf() << std::ifstream(second).rdbuf();
        return Path(name);
    };
    PublishSigned(join("pair-a.pem", KEY_A + ".pub.pem", KEY_A + ".pem"));
    EXPECT_EQ(VerifyRelease().exitCode, PACK_EXIT_OK);

    // The public block must not decide the key id, whichever comes first.
    const Run mixed = VerifyRelease(join("mixed.pem", KEY_B + ".pem", KEY_A + ".pub.pem"));
    EXPECT_EQ(mixed.exitCode, PACK_EXIT_IO);
    EXPECT_NE(mixed.err.find("do not belong together"), std::string::npos) << mixed.err;
}

TEST_F(RuvoPackSigning, PublishWithABadKeyWritesNothing)
{
    std::ofstream(Path("fw/0.bin"), std::ios::binary) << std::string(1000, 'a');
    std::ofstream(Path("release.txt")) << "model M01A\nimage T0M21F 0 fw/0.bin Base\n";
    const Run publicOnly = Pack({"publish", Path("release.txt"), Path("server"), "--sign", KEY_A + ".pub.pem"});
    EXPECT_EQ(publicOnly.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(publicOnly.err.find("private"), std::string::npos) << publicOnly.err;
    EXPECT_FALSE(fs::exists(Path("server")));
    EXPECT_EQ(Pack({"publish", Path("release.txt"), Path("server"), "--sign"}).exitCode, PACK_EXIT_USAGE);
}

}  // namespace
