// The tool's messages escape what the updater would escape.
#include "utf.h"

#include "update/display_text.h"

std::string EscapeForMessage(const std::string& text)
{
    return EscapeForTerminal(text);
}
