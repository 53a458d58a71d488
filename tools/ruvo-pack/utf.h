#pragma once
// UTF-8 (manifests, command lines, terminals) to and from the UTF-16 that
// catalogue descriptions carry.
#include <string>

// Strict: refuses malformed, overlong and surrogate encodings. False on error.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* utf16);

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& utf16);

// Text from a user (a description, an argument) made safe for a message on a
// terminal, by the updater's rules (update/display_text.h): C0, DEL and C1
// controls and bytes that are not valid UTF-8 are escaped.
std::string EscapeForMessage(const std::string& text);
