#pragma once
// Text from the update server or a device (option lines, record names,
// version texts, the model id), made safe to show. Such text may carry any
// bytes: shown raw, an escape sequence or a C1 control would drive the
// user's terminal. Portable; ruvo-flash and ruvo-pack use the same rules.
#include <cstdint>
#include <string>

#include "common/utf.h"  // Utf8SequenceAt: what counts as well-formed UTF-8

// The code points a terminal acts on: C0 (U+0000-U+001F), DEL (U+007F) and
// C1 (U+0080-U+009F).
bool IsControlCode(uint32_t code);

// `text` with its well-formed UTF-8 kept, other than controls, and
//   - a C0 control or DEL as \xNN (ESC is \x1B, a line break \x0A);
//   - a C1 control in its UTF-8 form (C2 80 to C2 9F) as \u0080 to \u009F;
//   - each byte that is not part of well-formed UTF-8 as \xNN, so a single
//     byte 0x80 to 0x9F, which some terminals take as a C1 control, too.
// Hex digits are capitals. A backslash stays as it is: the result is for
// reading, not for decoding back, and escaping it twice changes nothing.
std::string EscapeForTerminal(const std::string& text);
