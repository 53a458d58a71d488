// Escaping of text from the server or a device before it is shown.
#include "update/display_text.h"

namespace {

void AppendHex(std::string& out, const char* prefix, uint32_t value, int digits)
{
    static const char HEX[] = "0123456789ABCDEF";
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += HEX[(value >> shift) & 0xF];
}

}  // namespace

bool IsControlCode(uint32_t code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

std::string EscapeForTerminal(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const size_t length = Utf8SequenceAt(text, at, &code);
        if (length == 0) {
            AppendHex(out, "\\x", static_cast<uint8_t>(text[at]), 2);
            ++at;
            continue;
        }
        if (!IsControlCode(code))
            out.append(text, at, length);
        else if (code < 0x80)
            AppendHex(out, "\\x", code, 2);
        else
            AppendHex(out, "\\u", code, 4);
        at += length;
    }
    return out;
}
