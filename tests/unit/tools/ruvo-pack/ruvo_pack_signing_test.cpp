// ruvo-pack's signing commands, run in-process against a scratch folder:
// keygen, publish --sign and its options, and verify-release.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/ruvo-pack/cli.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/release_check.h"
#include "tools/ruvo-pack/signing.h"
#include "tests/support/package_fixtures.h"
#include "tests/unit/tools/ruvo-pack/ruvo_pack_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string KEY_A = std::string(TEST_KEYS_DIR) + "/test-only-release-key-a";
const std::string KEY_B = std::string(TEST_KEYS_DIR) + "/test-only-release-key-b";
const std::string KEY_C = std::string(TEST_KEYS_DIR) + "/test-only-release-key-c";

class RuvoPackSigning : public RuvoPackCli {
protected:
    void SetUp() override
    {
        RuvoPackCli::SetUp();
        fs::create_directories(dir / "fw");
    }

    // The manifest of model M01A with three images, Path("release.txt").
    std::string Manifest()
    {
        for (int i = 0; i < 3; ++i) {
            std::ofstream(Path("fw/" + std::to_string(i) + ".bin"), std::ios::binary)
                << std::string(1000 + 3000 * i, static_cast<char>('a' + i));
        }
        std::ofstream(Path("release.txt")) << "model M01A\n"
                                              "image T0M21F 0 fw/0.bin Base\n"
                                              "image V0MA01 100 fw/1.bin Second\n"
                                              "image C0M0R1 200 fw/2.bin Region\n";
        return Path("release.txt");
    }

    // A signed release of model M01A in Path("server"); `options` follow
    // the manifest and the folder.
    void PublishSignedWith(const std::vector<std::string>& options)
    {
        std::vector<std::string> command = {"publish", Manifest(), Path("server")};
        command.insert(command.end(), options.begin(), options.end());
        const Run run = Pack(command);
        ASSERT_EQ(run.exitCode, PACK_EXIT_OK) << run.err;
        ASSERT_NE(run.out.find("M01A.Sig2: release statement (format 2), serial 1, "), std::string::npos) << run.out;
    }
    void PublishSigned(const std::string& key = KEY_A + ".pem")
    {
        PublishSignedWith({"--sign", key, "--expires", "30"});
    }

    Run VerifyRelease(const std::string& publicKey = KEY_A + ".pub.pem") const
    {
        return Pack({"verify-release", Path("server"), "M01A", "--key", publicKey});
    }

    ReleaseStatement LiveStatement(uint8_t format = STATEMENT_FORMAT_2) const
    {
        const Bytes bytes =
            Read(Path(format == STATEMENT_FORMAT_2 ? "server/BRELM/Door/M01A.Sig2" : "server/BRELM/Door/M01A.Sig"));
        ReleaseStatement statement{};
        EXPECT_EQ(ParseStatement(bytes.data(), bytes.size(), format, &statement), STATEMENT_OK);
        return statement;
    }

    static ReleaseKey PublicKey(const std::string& base)
    {
        ReleaseKey key{};
        std::string error;
        EXPECT_TRUE(LoadPublicKey(base + ".pub.pem", key.point, &error)) << error;
        EXPECT_TRUE(ReleaseKeyId(key.point, key.keyId));
        return key;
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
    fs::remove(Path("server/BRELM/Door/M01A.Sig2"));
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
    EXPECT_EQ(mixed.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(mixed.err.find("do not belong together"), std::string::npos) << mixed.err;
}

TEST_F(RuvoPackSigning, PublishWithABadKeyWritesNothing)
{
    std::ofstream(Path("fw/0.bin"), std::ios::binary) << std::string(1000, 'a');
    std::ofstream(Path("release.txt")) << "model M01A\nimage T0M21F 0 fw/0.bin Base\n";
    const Run publicOnly =
        Pack({"publish", Path("release.txt"), Path("server"), "--sign", KEY_A + ".pub.pem", "--expires", "30"});
    EXPECT_EQ(publicOnly.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(publicOnly.err.find("private"), std::string::npos) << publicOnly.err;
    EXPECT_FALSE(fs::exists(Path("server")));
    EXPECT_EQ(Pack({"publish", Path("release.txt"), Path("server"), "--sign"}).exitCode, PACK_EXIT_USAGE);
}

TEST_F(RuvoPackSigning, SigningOptionsThatBreakARuleAreUsageErrorsAndWriteNothing)
{
    fs::copy_file(KEY_A + ".pem", Path("copy-of-a.pem"));
    const std::string a = KEY_A + ".pem", b = KEY_B + ".pem", c = KEY_C + ".pem";
    const struct {
        std::vector<std::string> options;
        const char* message;
    } rows[] = {
        {{"--sign", a}, "--sign needs --expires DAYS"},
        {{"--sign", a, "--expires", "30", "--no-expiry"}, "not both"},
        {{"--sign", a, "--expires", "0"}, "--expires takes a number of days from 1 to 3650"},
        {{"--sign", a, "--expires", "3651"}, "--expires takes a number of days from 1 to 3650"},
        {{"--sign", a, "--expires", "-1"}, "--expires takes a number of days"},
        {{"--sign", a, "--sign", a, "--expires", "30"}, "is the same key as"},
        {{"--sign", a, "--sign", Path("copy-of-a.pem"), "--expires", "30"}, "copy-of-a.pem\" is the same key as"},
        {{"--sign", a, "--sign", b, "--sign", c, "--sign", Path("copy-of-a.pem"), "--no-expiry"}, "at most 3 times"},
        {{"--expires", "30"}, "go with --sign KEY.pem"},
        {{"--format-1-too"}, "go with --sign KEY.pem"},
        {{"--sign", a, "--no-expiry", "--unsigned"}, "--sign or --unsigned, not both"},
    };
    const std::string manifest = Manifest();
    for (const auto& row : rows) {
        std::vector<std::string> command = {"publish", manifest, Path("server")};
        command.insert(command.end(), row.options.begin(), row.options.end());
        const Run run = Pack(command);
        EXPECT_EQ(run.exitCode, PACK_EXIT_USAGE) << row.message << ": " << run.err;
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(Path("server")));
    const Run refresh = Pack({"refresh", Path("server")});
    EXPECT_EQ(refresh.exitCode, PACK_EXIT_USAGE);
    EXPECT_NE(refresh.err.find("refresh signs"), std::string::npos) << refresh.err;
}

TEST_F(RuvoPackSigning, EveryKeySignsInTheOrderGivenAndTheExpiryIsCountedInDays)
{
    const struct {
        std::vector<std::string> keys;
        std::vector<std::string> expiry;
        uint64_t days;  // 0: never
    } rows[] = {
        {{KEY_A}, {"--no-expiry"}, 0},
        {{KEY_B, KEY_A}, {"--expires", "1"}, 1},
        {{KEY_C, KEY_A, KEY_B}, {"--expires", "3650"}, 3650},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keys.size());
        fs::remove_all(Path("server"));
        std::vector<std::string> options = row.expiry;
        for (const std::string& key : row.keys) options.insert(options.end(), {"--sign", key + ".pem"});
        const uint64_t before = static_cast<uint64_t>(std::time(nullptr));
        PublishSignedWith(options);
        const uint64_t after = static_cast<uint64_t>(std::time(nullptr));

        const ReleaseStatement statement = LiveStatement();
        ASSERT_EQ(statement.signatureCount, static_cast<int32_t>(row.keys.size()));
        for (size_t k = 0; k < row.keys.size(); ++k) {
            const ReleaseKey key = PublicKey(row.keys[k]);
            EXPECT_EQ(Bytes(statement.signatures[k].keyId, statement.signatures[k].keyId + RELEASE_KEY_ID_LENGTH),
                      Bytes(key.keyId, key.keyId + RELEASE_KEY_ID_LENGTH));
        }
        if (row.days == 0) {
            EXPECT_EQ(statement.expires, STATEMENT_NEVER_EXPIRES);
        } else {
            EXPECT_GE(statement.expires, before + row.days * 86400);
            EXPECT_LE(statement.expires, after + row.days * 86400);
        }

        // A client that needs every key accepts it, one that needs more keys than signed does not.
        std::vector<std::string> verify = {"verify-release", Path("server"), "M01A"};
        for (const std::string& key : row.keys) verify.insert(verify.end(), {"--key", key + ".pub.pem"});
        verify.insert(verify.end(), {"--threshold", std::to_string(row.keys.size())});
        const Run all = Pack(verify);
        EXPECT_EQ(all.exitCode, PACK_EXIT_OK) << all.out << all.err;
        EXPECT_NE(all.out.find("serial 1, expires " + std::string(row.days == 0 ? "never" : "20")), std::string::npos)
            << all.out;
        if (row.keys.size() < 3) {
            verify.insert(verify.end(),
                          {"--key", KEY_C + ".pub.pem", "--threshold", std::to_string(row.keys.size() + 1)});
            const Run more = Pack(verify);
            EXPECT_EQ(more.exitCode, PACK_EXIT_REFUSED) << more.out;
            EXPECT_NE(more.out.find("STATEMENT_BAD_SIGNATURE"), std::string::npos) << more.out;
        }
    }
    EXPECT_EQ(
        Pack({"verify-release", Path("server"), "M01A", "--key", KEY_A + ".pub.pem", "--threshold", "2"}).exitCode,
        PACK_EXIT_USAGE);
}

TEST_F(RuvoPackSigning, TheStagedCheckNeedsEverySignatureOfTheSigningKeys)
{
    PublishSignedWith({"--sign", KEY_A + ".pem", "--sign", KEY_B + ".pem", "--no-expiry"});
    // The second signature spoiled: one key still verifies.
    Bytes statement = Read(Path("server/BRELM/Door/M01A.Sig2"));
    statement.back() ^= 0x01;
    Write("server/BRELM/Door/M01A.Sig2", statement);
    ReleaseTrust trust;
    trust.keys = {PublicKey(KEY_A), PublicKey(KEY_B)};
    std::string error;
    EXPECT_TRUE(CheckStagedRelease(Path("server/BRELM/Door"), Path("server/BRELM/Pool"), trust, &error)) << error;
    trust.signedModels = {"M01A"};
    trust.signers = 2;
    EXPECT_FALSE(CheckStagedRelease(Path("server/BRELM/Door"), Path("server/BRELM/Pool"), trust, &error));
    EXPECT_NE(error.find("M01A.Sig2\" fails the statement check: STATEMENT_BAD_SIGNATURE"), std::string::npos) << error;
    EXPECT_NE(error.find("2 distinct signatures must verify"), std::string::npos) << error;
}

TEST_F(RuvoPackSigning, Format1TooWritesAFormat1StatementOfTheFirstKeyUntilAPublishWithoutIt)
{
    PublishSignedWith({"--sign", KEY_B + ".pem", "--sign", KEY_A + ".pem", "--expires", "30", "--format-1-too"});
    const ReleaseStatement first = LiveStatement(STATEMENT_FORMAT_1);
    const ReleaseKey keyB = PublicKey(KEY_B);
    EXPECT_EQ(Bytes(first.signatures[0].keyId, first.signatures[0].keyId + RELEASE_KEY_ID_LENGTH),
              Bytes(keyB.keyId, keyB.keyId + RELEASE_KEY_ID_LENGTH));
    EXPECT_EQ(first.recordCount, 3);

    // It holds on its own, as an exe that reads only format 1 checks it.
    fs::create_directories(Path("door-1"));
    fs::copy_file(Path("server/BRELM/Door/M01A.Bin"), Path("door-1/M01A.Bin"));
    fs::copy_file(Path("server/BRELM/Door/M01A.Sig"), Path("door-1/M01A.Sig"));
    ReleaseTrust trust;
    trust.keys = {keyB};
    std::string error;
    EXPECT_TRUE(CheckStagedRelease(Path("door-1"), Path("server/BRELM/Pool"), trust, &error)) << error;
    trust.keys = {PublicKey(KEY_A)};
    EXPECT_FALSE(CheckStagedRelease(Path("door-1"), Path("server/BRELM/Pool"), trust, &error));
    EXPECT_NE(error.find("M01A.Sig\" fails the statement check: STATEMENT_BAD_SIGNATURE"), std::string::npos) << error;

    // A publish without it leaves no format-1 statement of the old catalogue behind, and says so.
    std::ofstream(Path("next.txt")) << "model M01A\nimage T0M22F 0 fw/1.bin Base\nimage V0MA01 100 fw/1.bin Second\n";
    const Run next = Pack({"publish", Path("next.txt"), Path("server"), "--sign", KEY_A + ".pem", "--expires", "30"});
    ASSERT_EQ(next.exitCode, PACK_EXIT_OK) << next.err;
    EXPECT_NE(next.out.find("M01A.Sig (format 1) describes the old catalogue"), std::string::npos) << next.out;
    EXPECT_FALSE(fs::exists(Path("server/BRELM/Door/M01A.Sig")));
    EXPECT_TRUE(fs::exists(Path("server/releases/000001/Door/M01A.Sig")));
}

}  // namespace
