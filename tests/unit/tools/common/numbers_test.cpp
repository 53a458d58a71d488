// Checked number conversions: the whole word is the number, in range, or the
// call fails and leaves the value alone.
#include "tools/common/numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr uint64_t UNCHANGED = 12345;

TEST(ParseNumber, DecimalOrHexWithinTheLimit)
{
    const struct {
        const char* text;
        uint64_t max;
        bool ok;
        uint64_t value;
    } cases[] = {
        {"0", 10, true, 0},
        {"10", 10, true, 10},
        {"11", 10, false, 0},
        {"0x46010", 0x1FFFFF, true, 0x46010},
        {"0XfF", 255, true, 255},
        {"0x100", 255, false, 0},
        {"010", 100, true, 10},  // decimal, never octal
        {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, false, 0},  // one past: no wrap
        {"0x10000000000000000", UINT64_MAX, false, 0},
        {"", 10, false, 0},
        {"0x", 10, false, 0},
        {"-1", 10, false, 0},
        {"+1", 10, false, 0},
        {" 1", 10, false, 0},
        {"1 ", 10, false, 0},
        {"12abc", 100, false, 0},
        {"1e3", 10000, false, 0},
        {"0x1g", 100, false, 0},
        {"\xD9\xA1", 10, false, 0},  // ARABIC-INDIC DIGIT ONE is no digit here
    };
    for (const auto& c : cases) {
        uint64_t value = UNCHANGED;
        EXPECT_EQ(ParseNumber(c.text, c.max, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : UNCHANGED) << c.text;
    }
}

TEST(ParseInteger, SignedDecimalWithinBothLimits)
{
    const struct {
        const char* text;
        int64_t min;
        int64_t max;
        bool ok;
        int64_t value;
    } cases[] = {
        {"-1", -1, 10, true, -1},
        {"-2", -1, 10, false, 0},
        {"-1", 0, 10, false, 0},
        {"-0", 0, 10, false, 0},  // no sign where no negative is allowed
        {"-0", -1, 10, true, 0},
        {"7", 8, 10, false, 0},
        {"250", 0, 250, true, 250},
        {"251", 0, 250, false, 0},
        {"-9223372036854775808", INT64_MIN, INT64_MAX, true, INT64_MIN},
        {"-9223372036854775809", INT64_MIN, INT64_MAX, false, 0},
        {"9223372036854775807", INT64_MIN, INT64_MAX, true, INT64_MAX},
        {"9223372036854775808", INT64_MIN, INT64_MAX, false, 0},
        {"5", -10, -1, false, 0},
        {"-5", -10, -1, true, -5},
        {"0x10", 0, 100, false, 0},  // decimal only
        {"-", -10, 10, false, 0},
        {"--1", -10, 10, false, 0},
        {"+1", -10, 10, false, 0},
        {"", -10, 10, false, 0},
    };
    for (const auto& c : cases) {
        int64_t value = UNCHANGED;
        EXPECT_EQ(ParseInteger(c.text, c.min, c.max, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : static_cast<int64_t>(UNCHANGED)) << c.text;
    }
}

// Wide texts (the driver's wmain and scripts) read as their narrow twins;
// a wide character whose low byte is a digit is still no digit.
TEST(ParseInteger, WideTextsReadAlike)
{
    int64_t value = 0;
    EXPECT_TRUE(ParseInteger(std::wstring(L"-42"), -100, 100, value));
    EXPECT_EQ(value, -42);
    EXPECT_FALSE(ParseInteger(std::wstring(1, static_cast<wchar_t>(0x0131)), 0, 100, value));  // low byte '1'
    EXPECT_FALSE(ParseInteger(std::wstring(L"\xFF11"), 0, 100, value));                        // FULLWIDTH DIGIT ONE
    uint64_t number = 0;
    EXPECT_TRUE(ParseNumber(std::wstring(L"0x1F"), 255, number));
    EXPECT_EQ(number, 31u);
}

TEST(ParseHexBytes, ExactlyTwoDigitsPerByte)
{
    uint8_t bytes[3] = {};
    EXPECT_TRUE(ParseHexBytes("0aFf10", bytes, 3));
    EXPECT_EQ(bytes[0], 0x0A);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(bytes[2], 0x10);
    for (const char* bad : {"0aFf1", "0aFf100", "0aFg10", "0x0aFf", " 0aFf1", ""}) {
        EXPECT_FALSE(ParseHexBytes(bad, bytes, 3)) << bad;
    }
}

}  // namespace
