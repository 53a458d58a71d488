#include "cli/flash_options.h"

#include <gtest/gtest.h>

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
    };
    for (const auto& args : cases) {
        FlashOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << (args.empty() ? "(none)" : args.back());
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
