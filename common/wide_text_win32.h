#pragma once
// Windows' wchar_t texts (window texts, device paths, wmain's arguments) to
// and from UTF-8, through the portable conversions of common/utf.h: an
// unpaired surrogate becomes U+FFFD, and so does each ill-formed part of the
// UTF-8 (Utf8ToUtf16Replacing), so neither direction fails.
#include <string>
#include <string_view>

std::string Utf8(std::wstring_view wide);
std::wstring Wide(std::string_view utf8);
