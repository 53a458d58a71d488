#pragma once
// Text in the tool's messages: UTF-8 (manifests, command lines, terminals)
// to and from the UTF-16 that catalogue descriptions carry, strict one way
// (common/utf.h), and text from a user made safe for a terminal.
#include <string>

#include "common/utf.h"

// Text from a user (a description, an argument) made safe for a message on a
// terminal, by the updater's rules (update/display_text.h): C0, DEL and C1
// controls and bytes that are not valid UTF-8 are escaped.
std::string EscapeForMessage(const std::string& text);
