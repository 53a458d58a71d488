#pragma once
// Checked number conversions for the tools' command lines, step scripts and
// files. Each reads the whole text: no blanks, no sign unless the function
// takes one, nothing after the digits, and the value in range. On failure it
// returns false and leaves `value` unchanged; the caller reports a usage
// error that names the word. Narrow and wide (wmain, UTF-16 scripts) texts
// read alike; a character outside ASCII is never a digit.
#include <cstddef>
#include <cstdint>
#include <string_view>

// Decimal, or hexadecimal after "0x" or "0X" ("4096", "0x1000"); no sign, at
// most `max`. A leading 0 is a decimal 0, not an octal prefix.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t& value);
bool ParseNumber(std::wstring_view text, uint64_t max, uint64_t& value);

// The same into a 32-bit value.
inline bool ParseNumber(std::string_view text, uint32_t max, uint32_t& value)
{
    uint64_t wide = 0;
    if (!ParseNumber(text, uint64_t{max}, wide)) return false;
    value = static_cast<uint32_t>(wide);
    return true;
}

// Decimal with an optional leading '-', from `min` to `max` ("-1", "250").
bool ParseInteger(std::string_view text, int64_t min, int64_t max, int64_t& value);
bool ParseInteger(std::wstring_view text, int64_t min, int64_t max, int64_t& value);

// Exactly 2 * size hex digits of either case, nothing else ("1F00A0").
bool ParseHexBytes(std::string_view text, uint8_t* bytes, size_t size);
