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

size_t Utf8SequenceAt(const std::string& text, size_t at, uint32_t* code)
{
    const uint8_t lead = static_cast<uint8_t>(text[at]);
    size_t length;
    uint32_t value;
    uint32_t smallest;  // below it the encoding is overlong
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (size_t k = 1; k < length; ++k) {
        const uint8_t next = static_cast<uint8_t>(text[at + k]);
        if ((next & 0xC0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}

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
