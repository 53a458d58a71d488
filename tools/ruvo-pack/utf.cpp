// The tool's messages escape what the updater would escape.
#include "tools/ruvo-pack/utf.h"

#include "update/display_text.h"

std::string EscapeForMessage(const std::string& text)
{
    return EscapeForTerminal(text);
}
