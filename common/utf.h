#pragma once
// UTF-8 <-> UTF-16: manifests, command lines, terminals and transcripts are
// UTF-8; catalogue descriptions and Windows texts are UTF-16. Portable; the
// Windows wchar_t forms are in wide_text_win32.h.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Length (1 to 4) of the well-formed UTF-8 sequence that starts at
// text[at], with its code point in *code. 0 when none starts there: a stray
// continuation byte, an overlong or cut-short encoding, a surrogate, or a
// code point past U+10FFFF.
size_t Utf8SequenceAt(std::string_view text, size_t at, uint32_t* code);

// Strict: false for any ill-formed UTF-8 (see Utf8SequenceAt), and then
// *utf16 is left as it was.
bool Utf8ToUtf16(std::string_view utf8, std::u16string* utf16);

// Never fails: each ill-formed part becomes one U+FFFD. A part is the
// longest start of a well-formed sequence found there, or else one byte
// ("\xE5\x8F" cut short is one U+FFFD; "\xC0\x80" is two).
std::u16string Utf8ToUtf16Replacing(std::string_view utf8);

// Never fails: an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
