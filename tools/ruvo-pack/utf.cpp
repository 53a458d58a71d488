// UTF-8 <-> UTF-16 without the deprecated standard converters.
#include "utf.h"

#include <cstdint>

bool Utf8ToUtf16(const std::string& utf8, std::u16string* utf16)
{
    std::u16string out;
    size_t i = 0;
    while (i < utf8.size()) {
        const uint8_t lead = static_cast<uint8_t>(utf8[i]);
        int extra;
        uint32_t code;
        uint32_t smallest;
        if (lead < 0x80) {
            extra = 0, code = lead, smallest = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, code = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, code = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, code = lead & 0x07, smallest = 0x10000;
        } else {
            return false;
        }
        if (utf8.size() - i <= static_cast<size_t>(extra)) return false;
        for (int k = 1; k <= extra; ++k) {
            const uint8_t next = static_cast<uint8_t>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    *utf16 = std::move(out);
    return true;
}

std::string Utf16ToUtf8(const std::u16string& utf16)
{
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t code = utf16[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

std::string EscapeForMessage(const std::string& text)
{
    std::u16string ignored;
    const bool valid = Utf8ToUtf16(text, &ignored);
    std::string out;
    for (const char c : text) {
        const uint8_t byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte == 0x7F || (!valid && byte >= 0x80)) {
            static const char HEX[] = "0123456789ABCDEF";
            out += "\\x";
            out.push_back(HEX[byte >> 4]);
            out.push_back(HEX[byte & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}
