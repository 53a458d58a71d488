#include "cli/flash_options.h"

#include <gtest/gtest.h>

#include "cli/version_text.h"

#include <vector>

namespace {

bool Parse(std::vector<const char*> args, FlashOptions& out, std::string& error)
{
    args.insert(args.begin(), "ruvo-flash");
    return ParseFlashOptions(int(args.size()), args.data(), out, error);
}

TEST(FlashOptions, UpdateWithEveryOption)
{
    FlashOptions o;
    std::string error;
    ASSERT_TRUE(
        Parse({"update", "--device", "sim:/tmp/s", "--option", "2", "--base-url", "http://h/BRELM", "--json", "--yes"},
              o, error))
        << error;
    EXPECT_EQ(o.command, FlashCommand::UPDATE);
    EXPECT_EQ(o.devices, std::vector<std::string>{"sim:/tmp/s"});
    EXPECT_EQ(o.option, 2);
    EXPECT_EQ(o.baseUrl, "http://h/BRELM/");  // the final slash is added
    EXPECT_TRUE(o.json);
    EXPECT_TRUE(o.yes);

    ASSERT_TRUE(Parse({"update", "--key", "a.pem", "--key", "b.pem", "--threshold", "2", "--state", "/s"}, o, error))
        << error;
    EXPECT_EQ(o.keyFiles, (std::vector<std::string>{"a.pem", "b.pem"}));
    EXPECT_EQ(o.threshold, 2);
    EXPECT_EQ(o.stateDir, "/s");

    ASSERT_TRUE(Parse({"list", "--device", "sim:/a", "--device", "sim:/b"}, o, error)) << error;
    EXPECT_EQ(o.devices.size(), 2u);
    EXPECT_FALSE(ManyDevices(o));  // list reads each, but updates none
    ASSERT_TRUE(Parse({"update", "--device", "sim:/a", "--device", "sim:/b", "--log", "/tmp/l"}, o, error)) << error;
    EXPECT_TRUE(ManyDevices(o));
    EXPECT_EQ(o.logFile, "/tmp/l");
    ASSERT_TRUE(Parse({"update", "--all"}, o, error)) << error;
    EXPECT_TRUE(ManyDevices(o));
    ASSERT_TRUE(Parse({"update", "--device", "sim:/a"}, o, error)) << error;
    EXPECT_FALSE(ManyDevices(o));
    ASSERT_TRUE(Parse({"info"}, o, error)) << error;
    EXPECT_EQ(o.option, 0);  // as the window preselects line 0
    ASSERT_TRUE(Parse({"update", "--help"}, o, error));
    EXPECT_EQ(o.command, FlashCommand::HELP);
}

TEST(FlashOptions, RejectsMalformedInput)
{
    const std::vector<std::vector<const char*>> cases = {
        {},
        {"flash"},
        {"list", "info"},
        {"update", "--option", "6"},
        {"update", "--option", "-1"},
        {"update", "--option", "1x"},
        {"update", "--base-url", "ftp://h/"},
        {"update", "--device"},
        {"update", "--device", "sim:"},
        {"info", "--device", "sim:/a", "--device", "sim:/b"},  // info takes one device
        {"info", "--all"},
        {"list", "--log", "/tmp/x"},
        {"update", "--bogus"},
        {"update", "--threshold", "0"},
        {"update", "--threshold", "4"},  // a statement carries three signatures
        {"update", "--threshold", "2x"},
        {"update", "--state", ""},
    };
    for (const auto& args : cases) {
        FlashOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << (args.empty() ? "(none)" : args.back());
        EXPECT_FALSE(error.empty());
    }
}

// What a command line may change of a build's trust, on an unsigned and on a
// signed build: one row per command line.
TEST(FlashOptions, TrustOnlyChangesWhenAskedTo)
{
    struct Row {
        std::vector<const char*> args;
        bool unsignedOk, signedOk;
    } const rows[] = {
        {{"update"}, true, true},
        {{"update", "--key", "k.pem"}, true, false},  // would replace the built-in keys silently
        {{"update", "--key", "k.pem", "--trust-key"}, true, true},
        {{"update", "--trust-key"}, false, false},  // nothing to trust
        {{"update", "--base-url", "http://mirror/BRELM/"}, true, false},  // off TLS
        {{"update", "--base-url", "http://mirror/BRELM/", "--allow-http"}, true, true},
        {{"update", "--base-url", "https://mirror/BRELM/"}, true, true},
        {{"update", "--key", "a.pem", "--key", "b.pem", "--threshold", "2", "--trust-key"}, true, true},
        {{"update", "--key", "a.pem", "--threshold", "2"}, false, false},  // more keys asked than given
        {{"update", "--threshold", "1"}, false, false},  // a build's own keys keep its own threshold
    };
    for (const Row& row : rows) {
        FlashOptions o;
        std::string error;
        ASSERT_TRUE(Parse(row.args, o, error)) << error;
        const std::string line = std::string(row.args.back());
        EXPECT_EQ(CheckTrustOptions(o, false, error), row.unsignedOk) << line << " unsigned: " << error;
        EXPECT_EQ(CheckTrustOptions(o, true, error), row.signedOk) << line << " signed: " << error;
    }
}

TEST(FlashOptions, VersionNamesTheKeysTheBuildTrusts)
{
    FlashOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"update", "--version"}, o, error)) << error;
    EXPECT_EQ(o.command, FlashCommand::VERSION);

    ReleaseKey keys[2] = {};
    for (size_t i = 0; i < RELEASE_KEY_ID_LENGTH; ++i) {
        keys[0].keyId[i] = uint8_t(0x10 + i);
        keys[1].keyId[i] = uint8_t(0xF0 + i);
    }
    const std::string two = VersionText("2.2", "0123456789ab, modified", "https://u.example/BRELM/", keys, 2, 1);
    EXPECT_NE(two.find("ruvo-flash 2.2 (revision 0123456789ab, modified)\n"), std::string::npos) << two;
    EXPECT_NE(two.find("update server: https://u.example/BRELM/\n"), std::string::npos) << two;
    EXPECT_NE(two.find("release keys: 1011121314151617 f0f1f2f3f4f5f6f7 ("), std::string::npos) << two;
    const std::string loopback = VersionText("2.2", "unknown", "http://127.0.0.1/BRELM/", keys, 0, 1);
    EXPECT_NE(loopback.find("release keys: none"), std::string::npos);
    EXPECT_NE(loopback.find("(revision unknown)"), std::string::npos);
    EXPECT_NE(loopback.find("not for release"), std::string::npos) << loopback;
    EXPECT_NE(VersionText("2.2", "x", "https://localhost:8443/B/", keys, 0, 1).find("not for release"),
              std::string::npos);
    EXPECT_EQ(two.find("not for release"), std::string::npos) << two;
    EXPECT_NE(VersionText("2.2", "x", "https://u.example/BRELM/", keys, 2, 2).find("signed by 2 of them"),
              std::string::npos);
}

}  // namespace
