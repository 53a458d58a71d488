#include "tools/uidriver/pattern.h"

bool Matches(const wchar_t* pattern, const wchar_t* text)
{
    if (*pattern == L'\0') {
        return *text == L'\0';
    }
    if (*pattern == L'*') {
        for (const wchar_t* rest = text;; ++rest) {
            if (Matches(pattern + 1, rest)) {
                return true;
            }
            if (*rest == L'\0') {
                return false;
            }
        }
    }
    return *pattern == *text && Matches(pattern + 1, text + 1);
}
