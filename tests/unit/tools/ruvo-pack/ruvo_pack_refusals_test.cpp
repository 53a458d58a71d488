// Hostile server folders and key files. Each row prepares one and runs a
// command that must refuse, twice (the first refusal must leave nothing that
// lets a second run through). Afterwards the server folder is as it was, byte
// for byte, the files beside it are untouched and nothing was copied through a
// link.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tests/unit/tools/ruvo-pack/ruvo_pack_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string KEY_A = std::string(TEST_KEYS_DIR) + "/test-only-release-key-a";
const std::string KEY_B = std::string(TEST_KEYS_DIR) + "/test-only-release-key-b";
const std::vector<std::string> SIGN_A = {"--sign", KEY_A + ".pem", "--expires", "30"};
const char SECRET[] = "private key material, mode 0600";

class RuvoPackRefusals : public RuvoPackCli {
public:
    using RuvoPackCli::Path;
    using RuvoPackCli::Write;

    // A manifest `name`.txt of `model` with two base images and one optional
    // image whose names end in `tag`. Returns its path.
    std::string Manifest(const std::string& name, const std::string& tag, uint8_t seed,
                         const std::string& model = "M01A")
    {
        Write(name + "-a.bin", Firmware(3000, seed));
        Write(name + "-b.bin", Firmware(700, static_cast<uint8_t>(seed + 1)));
        Write(name + "-c.bin", Firmware(5000, static_cast<uint8_t>(seed + 2)));
        std::ofstream(Path(name + ".txt")) << "model " << model << "\n"
                                           << "image T0M2" << tag << " 0 " << name << "-a.bin base\n"
                                           << "image V0MA" << tag << " 32 " << name << "-b.bin second\n"
                                           << "image C0M0" << tag << " 64 " << name << "-c.bin region\n";
        return Path(name + ".txt");
    }

    void Publish(const std::vector<std::string>& args)
    {
        const Run run = Pack(args);
        ASSERT_EQ(run.exitCode, PACK_EXIT_OK) << run.err;
    }

    // Releases 1 and 2 of model M01A in `www`, release 2 live; `options`
    // go to both publishes.
    void TwoReleases(const std::string& www, const std::vector<std::string>& options = {})
    {
        for (const std::string& manifest : {Manifest("one", "1F", 1), Manifest("two", "2F", 9)}) {
            std::vector<std::string> command = {"publish", manifest, www};
            command.insert(command.end(), options.begin(), options.end());
            Publish(command);
        }
    }

    // A release of model M02B in `www`, which later publishes of M01A carry forward.
    void OtherModel(const std::string& www, const std::vector<std::string>& options = {})
    {
        std::vector<std::string> command = {"publish", Manifest("other", "0B", 5, "M02B"), www};
        command.insert(command.end(), options.begin(), options.end());
        Publish(command);
    }

    static void FlipLastByte(const std::string& path)
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(-1, std::ios::end);
        const char last = static_cast<char>(file.get() ^ 0x01);
        file.seekp(-1, std::ios::end);
        file.put(last);
    }

    // The command every publish row runs: release 3, keeping only itself, so
    // that a publish that went through would prune releases 1 and 2.
    std::vector<std::string> PublishThird(const std::string& www)
    {
        return {"publish", Manifest("three", "3F", 17), www, "--keep", "1"};
    }

    // A catalogue of model M02B that passes the package check and the record
    // walk, whose one record names `name`.
    static Bytes CatalogueNaming(const std::string& name)
    {
        Bytes package;
        std::string error;
        EXPECT_TRUE(BuildCataloguePackage("M02B", 2, {{name, 4128, u"x"}}, &package, &error)) << error;
        return package;
    }

    void Append(const std::string& path, const std::string& text) const { std::ofstream(path, std::ios::app) << text; }

    // Every entry under `root` without following a link: a file's mode and
    // bytes, a link's target.
    static std::map<std::string, std::string> Tree(const std::string& root)
    {
        std::map<std::string, std::string> tree;
        for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
            const fs::file_status status = it->symlink_status();
            std::string& entry = tree[fs::relative(it->path(), root).string()];
            if (fs::is_symlink(status)) {
                entry = "link " + fs::read_symlink(it->path()).string();
            } else if (fs::is_regular_file(status)) {
                std::ifstream file(it->path(), std::ios::binary);
                entry = "file " + std::to_string(static_cast<unsigned>(status.permissions())) + " " +
                        std::string(std::istreambuf_iterator<char>(file), {});
            } else {
                entry = fs::is_directory(status) ? "folder" : "other";
            }
        }
        return tree;
    }
};

// A file outside every server folder, at a path short enough to be a record
// name (at most 31 characters), which no row may remove.
struct AbsoluteVictim {
    std::string path = "/tmp/ruvo-victim-XXXXXX";
    AbsoluteVictim()
    {
        const int fd = mkstemp(&path[0]);
        if (fd >= 0) close(fd);
        std::ofstream(path) << "victim";
    }
    ~AbsoluteVictim() { unlink(path.c_str()); }
};

TEST_F(RuvoPackRefusals, NothingOutsideTheServerFolderIsTouchedAndNothingGoesLive)
{
    const AbsoluteVictim absolute;
    ASSERT_LE(absolute.path.size(), 31u);
    std::ofstream(Path("victim")) << "victim";  // "../../../victim" from any www/BRELM/Pool
    Write("secret", Bytes(SECRET, SECRET + sizeof SECRET - 1));
    fs::permissions(Path("secret"), fs::perms::owner_read | fs::perms::owner_write);

    using Prepare =
        std::vector<std::string> (*)(RuvoPackRefusals & t, const std::string& www, const std::string& absoluteVictim);
    const struct {
        const char* what;
        Prepare prepare;  // makes the server folder hostile, returns the command
        int exitCode;
        const char* message;
    } rows[] = {
        // Names pruning would act on: what a Door catalogue names and what release.txt lists.
        {"a name with '/' in a Door catalogue",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www);
             t.Write(www + "/BRELM/Door/M02B.Bin", CatalogueNaming("Door/M01A.Bin"));
             return t.PublishThird(www);
         },
         PACK_EXIT_BAD_INPUT, "names \"Door/M01A.Bin\", which is no Pool name"},
        {"a name with '..' in a Door catalogue",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www);
             t.Write(www + "/BRELM/Door/M02B.Bin", CatalogueNaming("../../../victim"));
             return t.PublishThird(www);
         },
         PACK_EXIT_BAD_INPUT, "names \"../../../victim\", which is no Pool name"},
        {"an absolute path in a Door catalogue",
         [](RuvoPackRefusals& t, const std::string& www, const std::string& victim) {
             t.TwoReleases(www);
             t.Write(www + "/BRELM/Door/M02B.Bin", CatalogueNaming(victim));
             return t.PublishThird(www);
         },
         PACK_EXIT_BAD_INPUT, "which is no Pool name"},
        {"a leading '.' in a Door catalogue",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www);
             t.Write(www + "/BRELM/Door/M02B.Bin", CatalogueNaming(".lock-0M21"));
             return t.PublishThird(www);
         },
         PACK_EXIT_BAD_INPUT, "names \".lock-0M21\", which is no Pool name"},
        {"a name with '/' in release.txt",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www);
             t.Append(www + "/releases/000001/release.txt", "image T0M21F/x\n");
             return t.PublishThird(www);
         },
         PACK_EXIT_BAD_INPUT, "release.txt\" names \"T0M21F/x\", which is no Pool name"},
        {"a name with '..' in release.txt",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www);
             t.Append(www + "/releases/000001/release.txt", "image ../../../victim\n");
             return t.PublishThird(www);
         },
         PACK_EXIT_BAD_INPUT, "names \"../../../victim\", which is no Pool name"},
        {"an absolute path in release.txt",
         [](RuvoPackRefusals& t, const std::string& www, const std::string& victim) {
             t.TwoReleases(www);
             t.Append(www + "/releases/000001/release.txt", "image " + victim + "\n");
             return t.PublishThird(www);
         },
         PACK_EXIT_BAD_INPUT, "which is no Pool name"},
        {"a leading '.' in release.txt",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www);
             t.Append(www + "/releases/000001/release.txt", "image .T0M21F\n");
             return t.PublishThird(www);
         },
         PACK_EXIT_BAD_INPUT, "names \".T0M21F\", which is no Pool name"},

        // A link in the live Door to a private file: a copy would be served to everyone.
        {"a symbolic link in Door",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www);
             fs::create_symlink(t.Path("secret"), www + "/BRELM/Door/notes.txt");
             return t.PublishThird(www);
         },
         PACK_EXIT_IO, "notes.txt\" is not a regular file"},

        // Keys: a file holding one pair's public key and another pair's private key.
        {"a mixed key file",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www);
             std::ofstream(t.Path("mixed.pem"))
                 << std::ifstream(KEY_A + ".pub.pem").rdbuf() << std::ifstream(KEY_B + ".pem").rdbuf();
             std::vector<std::string> command = t.PublishThird(www);
             command.insert(command.end(), {"--sign", t.Path("mixed.pem"), "--expires", "30"});
             return command;
         },
         PACK_EXIT_BAD_INPUT, "mixed.pem\" holds keys of different key pairs"},

        // Statements: a model must not go unsigned silently, nor come back with one that fails.
        {"an unsigned publish over a signed live release",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www, SIGN_A);
             return t.PublishThird(www);
         },
         PACK_EXIT_BAD_INPUT, "the live release of model M01A is signed"},
        {"a rollback to a signed release without signing it anew",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.TwoReleases(www, SIGN_A);
             return std::vector<std::string>{"rollback", www, "--key", KEY_A + ".pub.pem"};
         },
         PACK_EXIT_BAD_INPUT, "release 000001 is signed (M01A serial 1, live serial 2), and clients that accepted"},
        {"a rollback to a release whose format-1 statement does not verify",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             std::vector<std::string> options = SIGN_A;
             options.push_back("--format-1-too");
             t.TwoReleases(www, options);
             FlipLastByte(www + "/releases/000001/Door/M01A.Sig");  // in the signature
             std::vector<std::string> command = {"rollback", www};
             command.insert(command.end(), SIGN_A.begin(), SIGN_A.end());
             return command;
         },
         PACK_EXIT_REFUSED, "M01A.Sig\" fails the statement check: STATEMENT_BAD_SIGNATURE"},
        {"a rollback to an unsigned release over a signed live one",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.Publish({"publish", t.Manifest("one", "1F", 1), www});
             std::vector<std::string> command = {"publish", t.Manifest("two", "2F", 9), www};
             command.insert(command.end(), SIGN_A.begin(), SIGN_A.end());
             t.Publish(command);
             return std::vector<std::string>{"rollback", www, "--key", KEY_A + ".pub.pem"};
         },
         PACK_EXIT_BAD_INPUT, "has no statement of model M01A, whose live release is signed"},

        // Carried forward from the live release, and caught by the check of
        // the staged release alone: another model's spoiled catalogue or statement.
        {"a spoiled catalogue of another model",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.OtherModel(www);
             t.TwoReleases(www);
             FlipLastByte(www + "/BRELM/Door/M02B.Bin");
             return t.PublishThird(www);
         },
         PACK_EXIT_REFUSED, "M02B.Bin\" fails the catalogue check"},
        {"a spoiled statement of another model",
         [](RuvoPackRefusals& t, const std::string& www, const std::string&) {
             t.OtherModel(www, {"--sign", KEY_B + ".pem", "--expires", "30"});
             t.TwoReleases(www, {"--sign", KEY_A + ".pem", "--expires", "30", "--key", KEY_B + ".pub.pem"});
             FlipLastByte(www + "/BRELM/Door/M02B.Sig2");
             std::vector<std::string> command = t.PublishThird(www);
             command.insert(command.end(), {"--sign", KEY_A + ".pem", "--expires", "30", "--key", KEY_B + ".pub.pem"});
             return command;
         },
         PACK_EXIT_REFUSED, "M02B.Sig2\" fails the statement check: STATEMENT_BAD_SIGNATURE"},
    };

    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.what);
        const std::string www = Path("www" + std::to_string(i));
        const std::vector<std::string> command = row.prepare(*this, www, absolute.path);
        if (HasFatalFailure()) return;
        const auto before = Tree(www);
        for (int attempt = 0; attempt < 2; ++attempt) {
            const Run run = Pack(command);
            EXPECT_EQ(run.exitCode, row.exitCode) << run.out << run.err;
            EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        }
        const auto after = Tree(www);
        EXPECT_EQ(after, before);
        for (const auto& entry : after) EXPECT_EQ(entry.second.find(SECRET), std::string::npos) << entry.first;
        EXPECT_EQ(Read(Path("victim")), Bytes({'v', 'i', 'c', 't', 'i', 'm'}));
        EXPECT_EQ(Read(absolute.path), Bytes({'v', 'i', 'c', 't', 'i', 'm'}));
    }
}

}  // namespace
