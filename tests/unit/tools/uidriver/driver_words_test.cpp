// The UI driver's reading of its scripts and its text patterns: every
// scenario step passes through SplitWords, every wait-match through Matches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/uidriver/pattern.h"
#include "tools/uidriver/words.h"

namespace {

TEST(Matches, StarIsAnyRunAndAllElseIsLiteral)
{
    const struct {
        const wchar_t* pattern;
        const wchar_t* text;
        bool matches;
    } cases[] = {
        {L"", L"", true},
        {L"", L"a", false},
        {L"*", L"", true},
        {L"*", L"anything at all", true},
        {L"abc", L"abc", true},
        {L"abc", L"abcd", false},  // the whole text, not a prefix
        {L"abc", L"ab", false},
        {L"abc", L"ABC", false},  // case counts
        {L"a*", L"a", true},
        {L"*c", L"abc", true},
        {L"*c", L"abcd", false},
        {L"a*c", L"ac", true},
        {L"a*c", L"abbbc", true},
        {L"a*c", L"abcb", false},
        {L"a*b*c", L"a-b-b-c", true},
        {L"a**c", L"abc", true},
        {L"**", L"", true},
        {L"*b*", L"aaa", false},
        {L"?", L"a", false},    // no other wildcard
        {L"[a]", L"a", false},  // no character classes
        {L"*\x5DF2\x5B8C\x6210*", L"\x5347\x7D1A\x5DF2\x5B8C\x6210\x3002", true},
        {L"\x7248\x672C *", L"\x7248\x672C v1", true},
        {L"\x7248\x672C *", L"\x7248\x672C\x3000v1", false},  // a full-width blank is not a blank
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Matches(c.pattern, c.text), c.matches)
            << "pattern " << ::testing::PrintToString(std::wstring(c.pattern)) << " text "
            << ::testing::PrintToString(std::wstring(c.text));
    }
}

TEST(SplitWords, BlanksQuotesEscapesAndComments)
{
    const struct {
        const wchar_t* line;
        std::vector<std::wstring> words;
    } cases[] = {
        {L"", {}},
        {L"   \t\r", {}},
        {L"# only a comment", {}},
        {L"close-box", {L"close-box"}},
        {L"  wait-text\t116   \"Searching\"  ", {L"wait-text", L"116", L"Searching"}},
        {L"wait-box 20\r", {L"wait-box", L"20"}},
        {L"a # comment \"not a quote", {L"a"}},
        {L"a#b", {L"a#b"}},  // '#' inside a word is part of it
        {L"\"a # b\"", {L"a # b"}},
        {L"\"\"", {L""}},  // an empty text is a word
        {L"\"x\"\"y\"", {L"x", L"y"}},
        {L"pre\"fix\"", {L"pre\"fix\""}},  // a quote inside a bare word is kept
        {L"\"say \\\"hi\\\"\"", {L"say \"hi\""}},
        {L"\"a\\nb\\tc\\rd\\\\e\\qf\"", {L"a\nb\tc\rd\\eqf"}},
        {L"\"\x7248\x672C\x3000 1.220\"", {L"\x7248\x672C\x3000 1.220"}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> words;
        EXPECT_TRUE(SplitWords(c.line, words)) << ::testing::PrintToString(std::wstring(c.line));
        EXPECT_EQ(words, c.words) << ::testing::PrintToString(std::wstring(c.line));
    }
}

TEST(SplitWords, UnterminatedQuoteFails)
{
    for (const wchar_t* line : {L"\"open", L"text 116 \"no end", L"\"ends in an escape\\\"", L"\"\\"}) {
        std::vector<std::wstring> words;
        EXPECT_FALSE(SplitWords(line, words)) << ::testing::PrintToString(std::wstring(line));
    }
}

}  // namespace
