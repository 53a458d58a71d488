// UTF-8 <-> UTF-16 as every caller relies on it: the strict reading refuses
// what the replacing one marks with U+FFFD, and valid text goes both ways.
#include "common/utf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(Utf8ToUtf16, ConvertsWellFormedTextAndMarksEachIllFormedPart)
{
    const struct {
        const char* what;
        std::string utf8;
        bool valid;               // the strict reading accepts it
        std::u16string replaced;  // Utf8ToUtf16Replacing; for valid text also the strict result
    } cases[] = {
        {"empty", "", true, u""},
        {"ASCII, NUL included", "base\0 1F"s, true, u"base\0 1F"s},
        {"two bytes", "\xC3\xA9", true, u"\u00E9"},
        {"three bytes", "\xE5\x8F\xB0\xE7\x81\xA3", true, u"\u53F0\u7063"},
        {"largest of three bytes", "\xEF\xBF\xBF", true, u"\uFFFF"},
        {"four bytes: a surrogate pair", "\xF0\x9F\x98\x80", true, u"\xD83D\xDE00"},
        {"largest code point", "\xF4\x8F\xBF\xBF", true, u"\xDBFF\xDFFF"},
        {"stray continuation", "a\x80z", false, u"a\uFFFDz"},
        {"never a lead byte", "\xFF\xFE", false, u"\uFFFD\uFFFD"},
        {"overlong NUL: C0 is no lead", "\xC0\x80", false, u"\uFFFD\uFFFD"},
        {"overlong '/' in three bytes", "\xE0\x80\xAF", false, u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", false, u"\uFFFD\uFFFD\uFFFD"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"cut short at the end", "x\xE5\x8F", false, u"x\uFFFD"},
        {"cut short by ASCII", "\xF0\x9F\x98(", false, u"\uFFFD("},
        {"bad byte beside good text", "\xFF\xE5\x8F\xB0", false, u"\uFFFD\u53F0"},
    };
    for (const auto& c : cases) {
        std::u16string strict = u"untouched";
        EXPECT_EQ(Utf8ToUtf16(c.utf8, &strict), c.valid) << c.what;
        EXPECT_EQ(strict, c.valid ? c.replaced : u"untouched") << c.what;
        EXPECT_EQ(Utf8ToUtf16Replacing(c.utf8), c.replaced) << c.what;
        if (c.valid) {
            EXPECT_EQ(Utf16ToUtf8(c.replaced), c.utf8) << c.what << ": back again";
        }
    }
}

TEST(Utf16ToUtf8, ReplacesUnpairedSurrogates)
{
    const struct {
        const char* what;
        std::u16string utf16;
        std::string utf8;
    } cases[] = {
        {"lone high surrogate", u"a\xD800z", "a\xEF\xBF\xBDz"},
        {"lone low surrogate", u"\xDC00", "\xEF\xBF\xBD"},
        {"high surrogate at the end", u"z\xD83D", "z\xEF\xBF\xBD"},
        {"two highs, then a low: one pair", u"\xD800\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {"low before high: no pair", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.what;
}

}  // namespace
