#pragma once
// The system's words for an errno value, for messages that name a file.
#include <string>
#include <system_error>

inline std::string SystemMessage(int code)
{
    return std::generic_category().message(code);
}
