// Escaping of text from the server or a device for a terminal: controls in
// every form a terminal may act on, bytes outside UTF-8, and text kept.
#include "update/display_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EscapeForTerminal, EscapesControlsAndInvalidBytesAndKeepsText)
{
    using namespace std::string_literals;
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"base 1F.bin", "base 1F.bin"},
        {"\x1b[2J", "\\x1B[2J"},                                                     // an escape sequence
        {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},                                  // OSC, ended by BEL
        {"a\tb\r\nc\0d"s, "a\\x09b\\x0D\\x0Ac\\x00d"},                               // C0, NUL included
        {"\x7f", "\\x7F"},                                                           // DEL
        {"\xc2\x80 \xc2\x85 \xc2\x9b \xc2\x9f", "\\u0080 \\u0085 \\u009B \\u009F"},  // C1 as UTF-8
        {"\x80 \x85 \x9b \x9f", "\\x80 \\x85 \\x9B \\x9F"},                          // C1 as single bytes
        {"\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9"},                                    // U+00A0, U+00E9: past C1, kept
        {"\xe5\x8d\x80\xe5\x9f\x9f \xe5\x8f\xb0", "\xe5\x8d\x80\xe5\x9f\x9f \xe5\x8f\xb0"},  // CJK
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},                                            // four bytes
        {"\xff\xe5\x8f\xb0", "\\xFF\xe5\x8f\xb0"},     // one bad byte leaves its neighbour
        {"\xc0\x80", "\\xC0\\x80"},                    // overlong NUL
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},           // a surrogate
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // past U+10FFFF
        {"\xe5\x8f", "\\xE5\\x8F"},                    // cut short at the end
        {"\xe5\x8f\x41", "\\xE5\\x8FA"},               // cut short by ASCII
        {"C:\\x1B", "C:\\x1B"},                        // a backslash stays
        {"", ""},
    };
    for (const auto& c : cases) {
        const std::string shown = EscapeForTerminal(c.text);
        EXPECT_EQ(shown, c.shown) << c.shown;
        EXPECT_EQ(EscapeForTerminal(shown), shown) << "escaping twice changes nothing: " << c.shown;
    }
}

TEST(Utf8SequenceAt, ReadsOneCodePointOrNone)
{
    const struct {
        std::string text;
        size_t at;
        size_t length;
        uint32_t code;
    } cases[] = {
        {"A", 0, 1, 'A'},
        {"x\xc2\x85", 1, 2, 0x85},
        {"\xe5\x8f\xb0", 0, 3, 0x53F0},
        {"\xf4\x8f\xbf\xbf", 0, 4, 0x10FFFF},
        {"\xe5\x8f\xb0", 1, 0, 0},  // inside a sequence
        {"\xc1\xbf", 0, 0, 0},      // overlong
        {"\xf8\x88\x80\x80\x80", 0, 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t code = 0;
        EXPECT_EQ(Utf8SequenceAt(c.text, c.at, &code), c.length) << c.text;
        if (c.length != 0) {
            EXPECT_EQ(code, c.code) << c.text;
        }
    }
}

}  // namespace
