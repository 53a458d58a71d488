// wchar_t is a UTF-16 code unit on Windows; the units are copied, not
// reinterpreted, since wchar_t and char16_t are distinct types.
#include "common/wide_text_win32.h"

#include "common/utf.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wchar_t holds one UTF-16 code unit");

std::string Utf8(std::wstring_view wide)
{
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::wstring Wide(std::string_view utf8)
{
    const std::u16string units = Utf8ToUtf16Replacing(utf8);
    return std::wstring(units.begin(), units.end());
}
