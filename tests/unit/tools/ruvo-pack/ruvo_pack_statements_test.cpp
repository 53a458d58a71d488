// The life of signed releases in a server folder: serials that never go
// back, refresh, a rollback that signs anew, expiry of statements carried
// forward, and what `releases` shows of them.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "tests/unit/tools/ruvo-pack/ruvo_pack_fixture.h"
#include "tools/ruvo-pack/signing.h"

namespace fs = std::filesystem;

namespace {

const std::string KEY_A = std::string(TEST_KEYS_DIR) + "/test-only-release-key-a";

class RuvoPackStatements : public RuvoPackCli {
protected:
    // A manifest of `model` with two base images whose names end in `tag`
    // (two hex digits: record 0's version), firmware seeded by `seed`.
    std::string Manifest(const std::string& tag, uint8_t seed, const std::string& model = "M01A")
    {
        const std::string name = model + "-" + tag;
        Write(name + "-a.bin", Firmware(3000, seed));
        Write(name + "-b.bin", Firmware(700, static_cast<uint8_t>(seed + 1)));
        std::ofstream(Path(name + ".txt"))
            << "model " << model << "\n"
            << "image T0" << model.substr(2, 2) << tag << " 0 " << name << "-a.bin base\n"
            << "image V0" << model.substr(2, 2) << tag << " 32 " << name << "-b.bin second\n";
        return Path(name + ".txt");
    }

    std::string Www(const std::string& rest = "") const { return Path("www" + rest); }

    // Runs ruvo-pack `args` and asks for success.
    Run Ok(const std::vector<std::string>& args) const
    {
        const Run run = Pack(args);
        EXPECT_EQ(run.exitCode, PACK_EXIT_OK) << run.out << run.err;
        return run;
    }

    // `args` followed by signing with key a and an expiry of `days`.
    static std::vector<std::string> Signed(std::vector<std::string> args, const std::string& days = "30")
    {
        args.insert(args.end(), {"--sign", KEY_A + ".pem", "--expires", days});
        return args;
    }

    ReleaseStatement Statement(const std::string& path) const
    {
        const Bytes bytes = Read(path);
        ReleaseStatement statement{};
        EXPECT_EQ(ParseStatement(bytes.data(), bytes.size(), STATEMENT_FORMAT_2, &statement), STATEMENT_OK) << path;
        return statement;
    }
    ReleaseStatement LiveStatement(const std::string& model = "M01A") const
    {
        return Statement(Www("/BRELM/Door/" + model + ".Sig2"));
    }
    std::string LiveTarget() const { return fs::read_symlink(Www("/BRELM/Door")).string(); }

    // The live release holds as a client with key a holds it.
    void ExpectVerifies(const std::string& model = "M01A") const
    {
        const Run run = Pack({"verify-release", Www(), model, "--key", KEY_A + ".pub.pem"});
        EXPECT_EQ(run.exitCode, PACK_EXIT_OK) << run.out << run.err;
    }
};

TEST_F(RuvoPackStatements, TheSerialIsTheReleaseNumberAndNeverGoesBack)
{
    // A fresh folder: 1, then one more per publish.
    for (unsigned serial = 1; serial <= 3; ++serial) {
        Ok(Signed({"publish", Manifest("1" + std::to_string(serial), static_cast<uint8_t>(serial)), Www()}));
        EXPECT_EQ(LiveStatement().serial, serial);
        EXPECT_EQ(LiveTarget(), "../releases/00000" + std::to_string(serial) + "/Door");
    }

    // Old release folders deleted by hand: the next serial still rises.
    fs::remove_all(Www("/releases/000001"));
    fs::remove_all(Www("/releases/000002"));
    Ok(Signed({"publish", Manifest("14", 4), Www()}));
    EXPECT_EQ(LiveStatement().serial, 4u);

    // The served files restored from a backup into a new folder (the layout
    // before releases, no release folders): it goes on above the backup's serial.
    fs::create_directories(Path("restored/BRELM/Door"));
    for (const char* file : {"M01A.Bin", "M01A.Sig2"})
        fs::copy_file(Www("/BRELM/Door/") + file, Path("restored/BRELM/Door/") + file);
    fs::copy(Www("/BRELM/Pool"), Path("restored/BRELM/Pool"));
    const Run restored = Ok(Signed({"publish", Manifest("15", 5), Path("restored")}));
    EXPECT_NE(restored.out.find("folder migrated into release 000001"), std::string::npos) << restored.out;
    EXPECT_EQ(Statement(Path("restored/BRELM/Door/M01A.Sig2")).serial, 5u);
    EXPECT_EQ(fs::read_symlink(Path("restored/BRELM/Door")).string(), "../releases/000005/Door");

    // An unsigned publish of another model numbers on from there too.
    Ok({"publish", Manifest("01", 6, "M02B"), Path("restored"), "--key", KEY_A + ".pub.pem"});
    EXPECT_EQ(fs::read_symlink(Path("restored/BRELM/Door")).string(), "../releases/000006/Door");
}

TEST_F(RuvoPackStatements, RefreshSignsTheSameContentAnewAndReplacesItsOlderCopies)
{
    Ok(Signed({"publish", Manifest("11", 1), Www()}));
    Ok(Signed({"publish", Manifest("12", 2), Www()}, "1"));
    const ReleaseStatement before = LiveStatement();
    const Bytes catalogue = Read(Www("/BRELM/Door/M01A.Bin"));

    const uint64_t start = static_cast<uint64_t>(std::time(nullptr));
    const Run refreshed = Ok(Signed({"refresh", Www()}, "7"));
    EXPECT_NE(refreshed.out.find("release 000003 is live (M01A signed anew; was 000002)"), std::string::npos)
        << refreshed.out;
    EXPECT_NE(refreshed.out.find("000002: removed (superseded by release 000003)"), std::string::npos) << refreshed.out;
    const ReleaseStatement after = LiveStatement();
    EXPECT_EQ(after.serial, 3u);
    EXPECT_GE(after.expires, start + 7 * 86400);
    EXPECT_GT(after.expires, before.expires);
    EXPECT_EQ(Read(Www("/BRELM/Door/M01A.Bin")), catalogue);
    ExpectVerifies();

    // Refreshes never push older content out: release 1 is still there to go back to.
    Ok(Signed({"refresh", Www()}));
    EXPECT_EQ(LiveStatement().serial, 4u);
    EXPECT_FALSE(fs::exists(Www("/releases/000003")));
    const Run listed = Ok({"releases", Www()});
    EXPECT_NE(listed.out.find("  000001  "), std::string::npos) << listed.out;
    Ok(Signed({"rollback", Www()}));
    EXPECT_EQ(LiveStatement().serial, 5u);
    EXPECT_EQ(Read(Www("/BRELM/Door/M01A.Bin")), Read(Www("/releases/000001/Door/M01A.Bin")));

    // Nothing to refresh: a model the live release has no catalogue of, an unsigned release.
    const Run other = Pack(Signed({"refresh", Www(), "--model", "M02B"}));
    EXPECT_EQ(other.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(other.err.find("has no catalogue of model M02B"), std::string::npos) << other.err;
    Ok({"publish", Manifest("11", 1, "M03C"), Path("plain")});
    const Run plain = Pack(Signed({"refresh", Path("plain")}));
    EXPECT_EQ(plain.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(plain.err.find("holds no statement to refresh"), std::string::npos) << plain.err;
    Ok(Signed({"refresh", Path("plain"), "--model", "M03C"}));  // signs it for the first time
    EXPECT_EQ(Statement(Path("plain/BRELM/Door/M03C.Sig2")).serial, 2u);
}

TEST_F(RuvoPackStatements, RollbackSignsTheOlderContentAboveTheLiveSerial)
{
    Ok(Signed({"publish", Manifest("11", 1), Www()}));
    Ok(Signed({"publish", Manifest("12", 2), Www()}));
    Ok(Signed({"publish", Manifest("13", 3), Www()}));
    const Run back = Ok(Signed({"rollback", Www()}, "2"));
    EXPECT_NE(back.out.find("release 000004 is live: the content of release 000002, M01A signed anew (was 000003)"),
              std::string::npos)
        << back.out;
    EXPECT_EQ(LiveStatement().serial, 4u);
    EXPECT_EQ(Read(Www("/BRELM/Door/M01A.Bin")), Read(Www("/releases/000002/Door/M01A.Bin")));
    ExpectVerifies();

    // Each rollback steps back from the content that is live, not from the newest number.
    Ok(Signed({"rollback", Www()}));
    EXPECT_EQ(LiveStatement().serial, 5u);
    EXPECT_EQ(Read(Www("/BRELM/Door/M01A.Bin")), Read(Www("/releases/000001/Door/M01A.Bin")));
    const Run none = Pack(Signed({"rollback", Www()}));
    EXPECT_EQ(none.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(none.err.find("release 000001 is the oldest kept content (live as release 000005)"), std::string::npos)
        << none.err;

    const Run listed = Ok({"releases", Www()});
    EXPECT_NE(listed.out.find("* 000005  "), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("M01A serial 5, expires 20"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("(rollback to release 000001)"), std::string::npos) << listed.out;
}

TEST_F(RuvoPackStatements, AnExpiredStatementCarriedForwardIsRefusedUntilRefreshed)
{
    Ok(Signed({"publish", Manifest("01", 7, "M02B"), Www()}));
    Ok(Signed({"publish", Manifest("11", 1), Www()}));
    // M02B's live statement as it is once its time has passed: the same
    // files, signed to have ended a second ago.
    const Bytes catalogue = Read(Www("/BRELM/Door/M02B.Bin"));
    const Bytes base = Read(Www("/BRELM/Pool/T02B01")), second = Read(Www("/BRELM/Pool/V02B01"));
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
    Bytes expired;
    std::string error;
    ASSERT_TRUE(MakeSignedStatement({KEY_A + ".pem"}, {STATEMENT_FORMAT_2, 1, now - 1}, "M02B", catalogue,
                                    {{"T02B01", &base}, {"V02B01", &second}}, &expired, &error))
        << error;
    Write("www/BRELM/Door/M02B.Sig2", expired);

    const Run refused = Pack(Signed({"publish", Manifest("12", 2), Www()}));
    EXPECT_EQ(refused.exitCode, PACK_EXIT_REFUSED);
    EXPECT_NE(refused.err.find("M02B.Sig2\" fails the statement check: STATEMENT_EXPIRED"), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("re-sign it with 'ruvo-pack refresh OUTDIR --model M02B"), std::string::npos)
        << refused.err;
    EXPECT_EQ(LiveTarget(), "../releases/000002/Door");
    // A refresh of another model carries it as it is, and is refused too.
    EXPECT_EQ(Pack(Signed({"refresh", Www(), "--model", "M01A"})).exitCode, PACK_EXIT_REFUSED);

    // A refresh of every signed model mends it; the publish then goes through.
    Ok(Signed({"refresh", Www()}));
    EXPECT_EQ(LiveStatement("M02B").serial, 3u);
    EXPECT_EQ(LiveStatement().serial, 3u);
    Ok(Signed({"publish", Manifest("12", 2), Www()}));
    EXPECT_EQ(LiveStatement().serial, 4u);
    EXPECT_EQ(LiveStatement("M02B").serial, 3u);
    ExpectVerifies("M02B");
}

}  // namespace
