#include "tools/common/numbers.h"

#include <type_traits>

#include "common/bytes.h"

namespace {

template <typename Char>
int DigitOf(Char c)
{
    const auto code = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
    return code < 0x80 ? HexDigit(static_cast<char>(code)) : -1;
}

// Digits of `base` only, at least one; fails rather than wrap past `max`.
template <typename Char>
bool ParseDigits(std::basic_string_view<Char> text, unsigned base, uint64_t max, uint64_t& value)
{
    if (text.empty()) return false;
    uint64_t number = 0;
    for (Char c : text) {
        const int digit = DigitOf(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
        if (number > max / base) return false;
        number *= base;
        if (static_cast<uint64_t>(digit) > max - number) return false;
        number += static_cast<uint64_t>(digit);
    }
    value = number;
    return true;
}

template <typename Char>
bool ParseNumberOf(std::basic_string_view<Char> text, uint64_t max, uint64_t& value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return ParseDigits(text.substr(2), 16, max, value);
    }
    return ParseDigits(text, 10, max, value);
}

template <typename Char>
bool ParseIntegerOf(std::basic_string_view<Char> text, int64_t min, int64_t max, int64_t& value)
{
    uint64_t magnitude = 0;
    if (!text.empty() && text[0] == '-') {
        if (min >= 0) return false;
        // -(min) without overflow, also for INT64_MIN.
        const uint64_t limit = static_cast<uint64_t>(-(min + 1)) + 1;
        if (!ParseDigits(text.substr(1), 10, limit, magnitude)) return false;
        const int64_t negative = magnitude == 0 ? 0 : -static_cast<int64_t>(magnitude - 1) - 1;
        if (negative > max) return false;
        value = negative;
        return true;
    }
    if (max < 0 || !ParseDigits(text, 10, static_cast<uint64_t>(max), magnitude)) return false;
    if (static_cast<int64_t>(magnitude) < min) return false;
    value = static_cast<int64_t>(magnitude);
    return true;
}

}  // namespace

bool ParseNumber(std::string_view text, uint64_t max, uint64_t& value)
{
    return ParseNumberOf(text, max, value);
}

bool ParseNumber(std::wstring_view text, uint64_t max, uint64_t& value)
{
    return ParseNumberOf(text, max, value);
}

bool ParseInteger(std::string_view text, int64_t min, int64_t max, int64_t& value)
{
    return ParseIntegerOf(text, min, max, value);
}

bool ParseInteger(std::wstring_view text, int64_t min, int64_t max, int64_t& value)
{
    return ParseIntegerOf(text, min, max, value);
}

bool ParseHexBytes(std::string_view text, uint8_t* bytes, size_t size)
{
    if (text.size() != size * 2) return false;
    for (size_t i = 0; i < size; ++i) {
        const int high = HexDigit(text[2 * i]);
        const int low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}
