// The release layout of a server folder: the Door link swap, rollback, the
// Pool's immutable names, pruning, the publish lock and the old layout.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/ruvo-pack/release_store.h"
#include "tests/unit/tools/ruvo-pack/ruvo_pack_fixture.h"
#include "tools/ruvo-pack/signing.h"

namespace fs = std::filesystem;

namespace {

class RuvoPackRelease : public RuvoPackCli {
protected:
    // A manifest `name`.txt of `model` with two base images and one
    // optional image whose names end in `tag` (two characters), firmware
    // seeded by `seed`. Returns the manifest path.
    std::string Manifest(const std::string& name, const std::string& tag, uint8_t seed, size_t length = 3000,
                         const std::string& model = "M01A")
    {
        Write(name + "-a.bin", Firmware(length, seed));
        Write(name + "-b.bin", Firmware(700, static_cast<uint8_t>(seed + 1)));
        Write(name + "-c.bin", Firmware(5000, static_cast<uint8_t>(seed + 2)));
        std::ofstream(Path(name + ".txt")) << "model " + model +
                                                  "\n"
                                                  "image T0M2" +
                                                  tag + " 0 " + name +
                                                  "-a.bin base\n"
                                                  "image V0MA" +
                                                  tag + " 32 " + name +
                                                  "-b.bin second\n"
                                                  "image C0M0" +
                                                  tag + " 64 " + name + "-c.bin region\n";
        return Path(name + ".txt");
    }
    std::string Server(const std::string& rest = "") const { return Path("www" + rest); }
    std::string LiveTarget() const { return fs::read_symlink(Server("/BRELM/Door")).string(); }
    Bytes LiveCatalogue() const { return Read(Server("/BRELM/Door/M01A.Bin")); }
    std::vector<std::string> Listing(const std::string& folder) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static Bytes Spoiled(Bytes bytes)
    {
        bytes[bytes.size() / 2] ^= 0x20;
        return bytes;
    }
    bool Live() const
    {
        std::string error;
        const bool ok = CheckStagedRelease(Server("/BRELM/Door"), Server("/BRELM/Pool"), {}, &error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
};

TEST_F(RuvoPackRelease, EachPublishGoesLiveByTheLinkAndRollbackReturnsToThePrevious)
{
    ASSERT_EQ(Pack({"publish", Manifest("one", "1F", 1), Server()}).exitCode, PACK_EXIT_OK);
    EXPECT_EQ(LiveTarget(), "../releases/000001/Door");
    const Bytes first = LiveCatalogue();
    const Run second = Pack({"publish", Manifest("two", "2F", 9), Server()});
    ASSERT_EQ(second.exitCode, PACK_EXIT_OK) << second.err;
    EXPECT_EQ(LiveTarget(), "../releases/000002/Door");
    EXPECT_NE(LiveCatalogue(), first);
    EXPECT_TRUE(Live());

    const Run listed = Pack({"releases", Server()});
    EXPECT_EQ(listed.exitCode, PACK_EXIT_OK);
    EXPECT_NE(listed.out.find("  000001  "), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("* 000002  "), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("M01A  3 images"), std::string::npos) << listed.out;

    const Run back = Pack({"rollback", Server()});
    ASSERT_EQ(back.exitCode, PACK_EXIT_OK) << back.err;
    EXPECT_EQ(LiveCatalogue(), first);
    EXPECT_TRUE(Live());                                                    // release 1's images are still in the Pool
    EXPECT_EQ(Pack({"rollback", Server()}).exitCode, PACK_EXIT_BAD_INPUT);  // nothing older

    // The next publish numbers on after the newest, whichever is live.
    ASSERT_EQ(Pack({"publish", Manifest("three", "3F", 17), Server()}).exitCode, PACK_EXIT_OK);
    EXPECT_EQ(LiveTarget(), "../releases/000003/Door");
}

TEST_F(RuvoPackRelease, APoolNameIsNeverRewrittenWithOtherBytesUnlessReplaced)
{
    ASSERT_EQ(Pack({"publish", Manifest("one", "1F", 1), Server()}).exitCode, PACK_EXIT_OK);
    const Bytes catalogue = LiveCatalogue();
    const Bytes image = Read(Server("/BRELM/Pool/T0M21F"));

    // Same bytes: published again, nothing rewritten.
    const Run same = Pack({"publish", Path("one.txt"), Server()});
    ASSERT_EQ(same.exitCode, PACK_EXIT_OK) << same.err;
    EXPECT_NE(same.out.find("T0M21F: image \"M21F\", " + std::to_string(image.size()) + " bytes, unchanged"),
              std::string::npos)
        << same.out;

    // Same names, other firmware: refused, and nothing changes.
    const Run other = Pack({"publish", Manifest("other", "1F", 50), Server()});
    EXPECT_EQ(other.exitCode, PACK_EXIT_BAD_INPUT);
    EXPECT_NE(other.err.find("Pool/T0M21F ("), std::string::npos) << other.err;
    EXPECT_NE(other.err.find("named by release 000001, 000002"), std::string::npos) << other.err;
    EXPECT_NE(other.err.find("--replace"), std::string::npos) << other.err;
    EXPECT_EQ(LiveCatalogue(), catalogue);
    EXPECT_EQ(Read(Server("/BRELM/Pool/T0M21F")), image);
    EXPECT_EQ(Listing(Server("/releases")), (std::vector<std::string>{"000001", "000002"}));

    const Run replaced = Pack({"publish", Path("other.txt"), Server(), "--replace"});
    ASSERT_EQ(replaced.exitCode, PACK_EXIT_OK) << replaced.err;
    EXPECT_NE(replaced.out.find("replacing (--replace)"), std::string::npos) << replaced.out;
    EXPECT_NE(Read(Server("/BRELM/Pool/T0M21F")), image);
    EXPECT_TRUE(Live());
}

TEST_F(RuvoPackRelease, KeepsTheNewestReleasesAndOnlyTheImagesTheyName)
{
    Write("shared.bin", Firmware(100, 77));
    for (int i = 1; i <= 4; ++i) {
        const std::string tag = "F" + std::to_string(i);
        const std::string manifest = Manifest("r" + std::to_string(i), tag, static_cast<uint8_t>(i * 3));
        // Every release also names one image that never changes.
        std::ofstream(manifest, std::ios::app) << "image S0HARE 100 shared.bin shared\n";
        if (i == 2) Write("www/BRELM/Pool/crafted", Firmware(10, 1));  // not made by a publish
        const Run run = Pack({"publish", manifest, Server(), "--keep", "2"});
        ASSERT_EQ(run.exitCode, PACK_EXIT_OK) << run.err;
    }
    EXPECT_EQ(Listing(Server("/releases")), (std::vector<std::string>{"000003", "000004"}));
    EXPECT_EQ(Listing(Server("/BRELM/Pool")), (std::vector<std::string>{"C0M0F3", "C0M0F4", "S0HARE", "T0M2F3",
                                                                        "T0M2F4", "V0MAF3", "V0MAF4", "crafted"}));
    EXPECT_TRUE(Live());

    // A rollback does not keep the older release alive past the next publish.
    ASSERT_EQ(Pack({"rollback", Server()}).exitCode, PACK_EXIT_OK);
    ASSERT_EQ(Pack({"publish", Manifest("r5", "F5", 40), Server(), "--keep", "1"}).exitCode, PACK_EXIT_OK);
    EXPECT_EQ(Listing(Server("/releases")), (std::vector<std::string>{"000005"}));
    EXPECT_EQ(Pack({"publish", Manifest("r6", "F6", 41), Server(), "--keep", "0"}).exitCode, PACK_EXIT_USAGE);
}

TEST_F(RuvoPackRelease, ASecondPublishFailsAtOnceWhileTheLockIsHeld)
{
    ASSERT_EQ(Pack({"publish", Manifest("one", "1F", 1), Server()}).exitCode, PACK_EXIT_OK);
    const int fd = open(Server("/.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);  // a separate open file: flock conflicts within a process too

    const Run blocked = Pack({"publish", Manifest("two", "2F", 9), Server()});
    EXPECT_EQ(blocked.exitCode, PACK_EXIT_LOCKED);
    EXPECT_EQ(blocked.err, "ruvo-pack: another publish holds " + Server("/.lock") + "\n");
    EXPECT_EQ(Pack({"rollback", Server()}).exitCode, PACK_EXIT_LOCKED);
    EXPECT_EQ(LiveTarget(), "../releases/000001/Door");
    EXPECT_FALSE(fs::exists(Server("/BRELM/Pool/T0M22F")));
    close(fd);

    EXPECT_EQ(Pack({"publish", Path("two.txt"), Server()}).exitCode, PACK_EXIT_OK);
}

TEST_F(RuvoPackRelease, AnOldDoorFolderBecomesAReleaseAndExtraDoorFilesAreCarriedForward)
{
    // The layout before releases: a real Door folder with a catalogue of
    // another model (its images in the Pool) and a file someone added.
    ASSERT_EQ(Pack({"publish", Manifest("other", "0B", 5, 3000, "M02B"), Path("old")}).exitCode, PACK_EXIT_OK);
    Write("www/BRELM/Door/M02B.Bin", Read(Path("old/BRELM/Door/M02B.Bin")));
    for (const std::string& image : Listing(Path("old/BRELM/Pool"))) {
        Write("www/BRELM/Pool/" + image, Read(Path("old/BRELM/Pool/" + image)));
    }
    Write("www/BRELM/Door/note.txt", Bytes{'h', 'i'});
    const Run run = Pack({"publish", Manifest("two", "2F", 9), Server()});
    ASSERT_EQ(run.exitCode, PACK_EXIT_OK) << run.err;
    EXPECT_NE(run.out.find("folder migrated into release 000001"), std::string::npos) << run.out;
    EXPECT_EQ(LiveTarget(), "../releases/000002/Door");
    EXPECT_EQ(Listing(Server("/BRELM/Door")), (std::vector<std::string>{"M01A.Bin", "M02B.Bin", "note.txt"}));
    EXPECT_EQ(Listing(Server("/releases/000001/Door")), (std::vector<std::string>{"M02B.Bin", "note.txt"}));

    // A file written into the live Door afterwards lands in the live release
    // and is carried into the next one; this model's statement is not (an
    // unsigned publish over it says so with --unsigned).
    Write("www/BRELM/Door/extra.txt", Bytes{'x'});
    Write("www/BRELM/Door/M01A.Sig", Bytes{'s'});
    EXPECT_TRUE(fs::exists(Server("/releases/000002/Door/extra.txt")));
    ASSERT_EQ(Pack({"publish", Manifest("three", "3F", 17), Server(), "--unsigned"}).exitCode, PACK_EXIT_OK);
    EXPECT_EQ(Listing(Server("/BRELM/Door")),
              (std::vector<std::string>{"M01A.Bin", "M02B.Bin", "extra.txt", "note.txt"}));

    // An empty old folder (as a server script makes before publishing) just goes.
    fs::create_directories(Path("fresh/BRELM/Door"));
    ASSERT_EQ(Pack({"publish", Manifest("one", "1F", 1), Path("fresh")}).exitCode, PACK_EXIT_OK);
    EXPECT_EQ(fs::read_symlink(Path("fresh/BRELM/Door")).string(), "../releases/000001/Door");
}

TEST_F(RuvoPackRelease, FilesGivenForTheDoorGoLiveWithTheCatalogue)
{
    ASSERT_EQ(Pack({"publish", Manifest("one", "1F", 1), Server()}).exitCode, PACK_EXIT_OK);
    PublishInput input;
    input.model = "M01A";
    input.catalogue = LiveCatalogue();
    std::vector<Bytes> packages;
    for (const char* name : {"T0M21F", "V0MA1F", "C0M01F"}) packages.push_back(Read(Server("/BRELM/Pool/") + name));
    const std::string keys = std::string(TEST_KEYS_DIR) + "/test-only-release-key-a";
    Bytes statement;
    std::string error;
    ASSERT_TRUE(MakeSignedStatement({keys + ".pem"}, {STATEMENT_FORMAT_2, 2, STATEMENT_NEVER_EXPIRES}, "M01A",
                                    input.catalogue,
                                    {{"T0M21F", &packages[0]}, {"V0MA1F", &packages[1]}, {"C0M01F", &packages[2]}},
                                    &statement, &error))
        << error;
    input.doorFiles = {{"M01A.Sig2", statement}};

    // A statement goes live only when it verifies under a key of the publish.
    PublishOptions options;
    std::ostringstream out;
    EXPECT_EQ(PublishRelease(Server(), input, options, out, &error), PACK_EXIT_REFUSED);
    EXPECT_NE(error.find("no key to check it was given"), std::string::npos) << error;
    EXPECT_EQ(LiveTarget(), "../releases/000001/Door");

    options.trust.keys.resize(1);
    ASSERT_TRUE(LoadPublicKey(keys + ".pub.pem", options.trust.keys[0].point, &error)) << error;
    ASSERT_TRUE(ReleaseKeyId(options.trust.keys[0].point, options.trust.keys[0].keyId));
    ASSERT_EQ(PublishRelease(Server(), input, options, out, &error), PACK_EXIT_OK) << error;
    EXPECT_EQ(LiveTarget(), "../releases/000002/Door");
    EXPECT_EQ(Read(Server("/BRELM/Door/M01A.Sig2")), statement);
}

TEST_F(RuvoPackRelease, TheStagedReleaseCheckNamesTheFileAtFault)
{
    ASSERT_EQ(Pack({"publish", Manifest("one", "1F", 1), Server()}).exitCode, PACK_EXIT_OK);
    const struct {
        const char* what;
        std::string file;
        Bytes bytes;
        const char* message;
    } cases[] = {
        {"cut short", "/BRELM/Pool/V0MA1F", Bytes(100, 0x55), "is 100 bytes, but record 1"},
        {"spoiled", "/BRELM/Pool/V0MA1F", Spoiled(Read(Server("/BRELM/Pool/V0MA1F"))), "fails the image check"},
        {"missing", "/BRELM/Pool/C0M01F", {}, "record 2 of"},
        {"no catalogue", "/BRELM/Door/M01A.Bin", Bytes(300, 0x55), "fails the catalogue check"},
    };
    for (const auto& c : cases) {
        const Bytes kept = Read(Server(c.file));
        if (c.bytes.empty()) {
            fs::remove(Server(c.file));
        } else {
            Write("www" + c.file, c.bytes);
        }
        std::string error;
        EXPECT_FALSE(CheckStagedRelease(Server("/BRELM/Door"), Server("/BRELM/Pool"), {}, &error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find(fs::path(c.file).filename().string()), std::string::npos) << c.what << ": " << error;
        Write("www" + c.file, kept);
    }
    EXPECT_TRUE(Live());

    // A rollback to a release that no longer passes is refused.
    ASSERT_EQ(Pack({"publish", Manifest("two", "2F", 9), Server()}).exitCode, PACK_EXIT_OK);
    fs::remove(Server("/BRELM/Pool/C0M01F"));
    EXPECT_EQ(Pack({"rollback", Server()}).exitCode, PACK_EXIT_REFUSED);
    EXPECT_EQ(LiveTarget(), "../releases/000002/Door");
}

}  // namespace
