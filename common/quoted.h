#pragma once
// A path or name set off in a message: "text", as it is. Escaping what the
// text may hold is the caller's business (update/display_text.h).
#include <string>
#include <string_view>

inline std::string Quoted(std::string_view text)
{
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    quoted += text;
    quoted += '"';
    return quoted;
}
