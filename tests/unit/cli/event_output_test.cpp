// The JSON lines: one object per event, the format version and the device in
// each, strings escaped. Text from the server and the device reaches a
// terminal, the closing table and JSON escaped, in every output style.
#include "cli/event_output.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/multi_device.h"

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

// The code points of `text`, decoded by the C library's own strict UTF-8
// decoder; false when the text is not valid UTF-8.
bool DecodeUtf8(const std::string& text, std::vector<wchar_t>* code)
{
    iconv_t cd = iconv_open("WCHAR_T", "UTF-8");
    if (cd == iconv_t(-1)) return false;
    std::string in = text;
    std::vector<wchar_t> out(text.size() + 1);
    char* from = in.data();
    size_t fromLeft = in.size();
    char* to = reinterpret_cast<char*>(out.data());
    size_t toLeft = out.size() * sizeof(wchar_t);
    const bool ok = iconv(cd, &from, &fromLeft, &to, &toLeft) != size_t(-1) && fromLeft == 0;
    iconv_close(cd);
    out.resize(out.size() - toLeft / sizeof(wchar_t));
    *code = out;
    return ok;
}

// Valid UTF-8 with no control a terminal acts on (C0 but the line break,
// DEL, C1), once the output's own cursor codes are taken out.
::testing::AssertionResult ShowsNoForeignControl(std::string text)
{
    for (const char* own : {"\r", "\033[K", "\033[1A", "\033[2A"})
        for (size_t at; (at = text.find(own)) != std::string::npos;) text.erase(at, std::strlen(own));
    std::vector<wchar_t> code;
    if (!DecodeUtf8(text, &code)) return ::testing::AssertionFailure() << "not UTF-8: " << text;
    for (const wchar_t c : code)
        if ((c < 0x20 && c != '\n') || (c >= 0x7F && c <= 0x9F))
            return ::testing::AssertionFailure() << "control U+" << std::hex << unsigned(c) << " in: " << text;
    return ::testing::AssertionSuccess();
}

// What a hostile server and device record can put into each event: escape
// sequences, C1 controls as UTF-8 and as single bytes, a byte that is no
// UTF-8, beside CJK text that must stay as it is.
void SendHostileEvents(CFlashEvents& events)
{
    DeviceInfo info{};
    std::strcpy(info.versionText, "1\xC2\x9B");
    std::strcpy(info.deviceSecondVersion, "\x9B\xC2\x85");
    std::strcpy(info.modelId, "\x1B[2J");
    events.Device("sim:/tmp/a", info);
    Offer offer;
    offer.optionLines = {" 3120  [ \x1B[2J\xC2\x85\xE5\x8D\x80 ]"};
    offer.neededBases = {"BT\x1B[31m"};
    offer.skippedBases = {"BV\xFF\x41"};  // \x41 is 'A'
    events.Offered(offer);
    const PlannedImage image{0, "BT\x1B[31m", 'T', 4000, 1};
    events.Downloaded(image);
    events.ImageStarted(image, 0, 1);
    events.Progress(image, ImagePhase::WRITE, 1, 1024.0);
    events.ImageFinished(image, 0);
    events.Failed("0402 -4", "image BT\x1B[31m was refused \x9B\x32J", 1);  // \x32 is '2'
}

TEST(EventOutput, TextFromTheServerAndTheDeviceIsShownEscaped)
{
    for (const OutputStyle style : {OutputStyle::PLAIN, OutputStyle::TERMINAL}) {
        FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        SendHostileEvents(*MakeEventOutput(style, out, out));
        const std::string text = Captured(out);
        std::fclose(out);
        EXPECT_TRUE(ShowsNoForeignControl(text));
        for (const char* shown :
             {"version 1\\u009B, second version \\x9B\\u0085, updater level 0, model \\x1B[2J",
              "option 0: 3120  [ \\x1B[2J\\u0085\xE5\x8D\x80 ]", "base images needed: BT\\x1B[31m",
              "skipped (already on the device): BV\\xFFA", "error 0402 -4: image BT\\x1B[31m was refused \\x9B2J"})
            EXPECT_NE(text.find(shown), std::string::npos) << shown << " in:\n" << text;
    }

    // Several devices on one terminal: the board's lines.
    FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    {
        CProgressBoard board(err, 2);
        SendHostileEvents(*MakeDeviceEventOutput(OutputStyle::TERMINAL, err, err, "sim:/tmp/a", 0, &board));
        board.Set(1, "model \x1B[2J", true);
    }
    const std::string rows = Captured(err);
    std::fclose(err);
    EXPECT_TRUE(ShowsNoForeignControl(rows));
    EXPECT_NE(rows.find("error 0402 -4: image BT\\x1B[31m was refused \\x9B2J"), std::string::npos) << rows;

    // The closing table of a bench run.
    DeviceOutcome outcome;
    outcome.path = "sim:/tmp/a";
    outcome.model = "\x1B[2J";
    outcome.images = {"BT\xC2\x9B"};
    outcome.exitCode = 1;
    outcome.text = "refused \x1B]0;x\x07";
    const std::string table = OutcomeTable({outcome});
    EXPECT_TRUE(ShowsNoForeignControl(table));
    EXPECT_NE(table.find("\\x1B[2J"), std::string::npos) << table;
    EXPECT_NE(table.find("BT\\u009B"), std::string::npos) << table;
    EXPECT_NE(table.find("refused \\x1B]0;x\\x07"), std::string::npos) << table;
}

TEST(EventOutput, JsonOfHostileTextIsValidUtf8WithEveryControlEscaped)
{
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    SendHostileEvents(*MakeEventOutput(OutputStyle::JSON, out, out));
    const std::string text = Captured(out);
    std::fclose(out);
    EXPECT_TRUE(ShowsNoForeignControl(text));
    // A byte outside UTF-8 stands for the code point of its value, as a
    // record name's bytes widen into the window's option lines.
    for (const char* field :
         {"\"version\":\"1\\u009b\"", "\"second_version\":\"\\u009b\\u0085\"", "\"model\":\"\\u001b[2J\"",
          "\"options\":[\" 3120  [ \\u001b[2J\\u0085\xE5\x8D\x80 ]\"]", "\"bases_skipped\":[\"BV\\u00ffA\"]",
          "\"text\":\"image BT\\u001b[31m was refused \\u009b2J\""})
        EXPECT_NE(text.find(field), std::string::npos) << field << " in:\n" << text;

    DeviceOutcome outcome;
    outcome.model = "\x1B[2J";
    outcome.images = {"BT\xFF"};
    const std::string line = OutcomeLogLine(outcome);
    EXPECT_TRUE(ShowsNoForeignControl(line));
    EXPECT_NE(
        line.find("\"model\":\"\\u001b[2J\",\"version_before\":\"\",\"version_after\":\"\",\"images\":[\"BT\\u00ff\"]"),
        std::string::npos)
        << line;
}

}  // namespace
