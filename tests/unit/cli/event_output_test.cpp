// The JSON lines: one object per event, the format version and the device in
// each, strings escaped.
#include "cli/event_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Captured(FILE* file)
{
    std::rewind(file);
    std::string text;
    char buffer[512];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    return text;
}

TEST(EventOutput, JsonLinesCarryVersionDeviceAndEscapes)
{
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    auto events = MakeEventOutput(OutputStyle::JSON, out, out);
    DeviceInfo info{};
    std::strcpy(info.versionText, "03A0");
    std::strcpy(info.modelId, "R100");
    events->Device("sim:/tmp/a\"b", info);
    PlannedImage image{0, "BTR122.bin", 'T', 20256, 5};
    events->Progress(image, ImagePhase::VERIFY, 3, 2048.0);
    events->Failed("0402 -4", "line\nbreak", 1);
    const std::string text = Captured(out);
    std::fclose(out);
    EXPECT_EQ(text,
              "{\"format\":1,\"event\":\"device\",\"device\":\"sim:/tmp/a\\\"b\",\"version\":\"03A0\","
              "\"second_version\":\"\",\"updater_level\":0,\"model\":\"R100\"}\n"
              "{\"format\":1,\"event\":\"progress\",\"device\":\"sim:/tmp/a\\\"b\",\"image\":\"BTR122.bin\","
              "\"entry\":0,\"blocks\":5,\"phase\":\"verify\",\"done\":3,\"kib_per_s\":2.0}\n"
              "{\"format\":1,\"event\":\"error\",\"device\":\"sim:/tmp/a\\\"b\",\"exit\":1,\"code\":\"0402 -4\","
              "\"text\":\"line\\u000abreak\"}\n");
}

}  // namespace
