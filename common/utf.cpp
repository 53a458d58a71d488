// UTF-8 <-> UTF-16 without the deprecated standard converters.
#include "common/utf.h"

namespace {

// What may follow a lead byte, after Unicode's table of well-formed UTF-8:
// the sequence length and the range of the second byte (the third and fourth
// are always 80-BF). The narrow ranges after E0, ED, F0 and F4 are what keep
// out overlong forms, surrogates and code points past U+10FFFF.
struct LeadRule {
    size_t length;
    uint8_t low;
    uint8_t high;
};

bool RuleOfLead(uint8_t lead, LeadRule* rule)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        *rule = {2, 0x80, 0xBF};
    else if (lead == 0xE0)
        *rule = {3, 0xA0, 0xBF};
    else if (lead == 0xED)
        *rule = {3, 0x80, 0x9F};
    else if (lead >= 0xE1 && lead <= 0xEF)
        *rule = {3, 0x80, 0xBF};
    else if (lead == 0xF0)
        *rule = {4, 0x90, 0xBF};
    else if (lead >= 0xF1 && lead <= 0xF3)
        *rule = {4, 0x80, 0xBF};
    else if (lead == 0xF4)
        *rule = {4, 0x80, 0x8F};
    else
        return false;
    return true;
}

// Bytes from text[at] on that begin a well-formed sequence (at least 1), and
// whether they complete it, with its code point in *code then.
size_t MatchSequence(std::string_view text, size_t at, bool* complete, uint32_t* code)
{
    const uint8_t lead = static_cast<uint8_t>(text[at]);
    *complete = false;
    if (lead < 0x80) {
        *complete = true;
        *code = lead;
        return 1;
    }
    LeadRule rule;
    if (!RuleOfLead(lead, &rule)) return 1;
    uint32_t value = lead & (0x7Fu >> rule.length);
    size_t matched = 1;
    for (; matched < rule.length && at + matched < text.size(); ++matched) {
        const uint8_t next = static_cast<uint8_t>(text[at + matched]);
        const uint8_t low = matched == 1 ? rule.low : 0x80;
        const uint8_t high = matched == 1 ? rule.high : 0xBF;
        if (next < low || next > high) break;
        value = (value << 6) | (next & 0x3Fu);
    }
    if (matched == rule.length) {
        *complete = true;
        *code = value;
    }
    return matched;
}

void AppendUtf16(std::u16string& out, uint32_t code)
{
    if (code >= 0x10000) {
        code -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(code));
    }
}

void AppendUtf8(std::string& out, uint32_t code)
{
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

}  // namespace

size_t Utf8SequenceAt(std::string_view text, size_t at, uint32_t* code)
{
    bool complete = false;
    const size_t length = MatchSequence(text, at, &complete, code);
    return complete ? length : 0;
}

bool Utf8ToUtf16(std::string_view utf8, std::u16string* utf16)
{
    std::u16string out;
    for (size_t at = 0; at < utf8.size();) {
        uint32_t code = 0;
        const size_t length = Utf8SequenceAt(utf8, at, &code);
        if (length == 0) return false;
        AppendUtf16(out, code);
        at += length;
    }
    *utf16 = std::move(out);
    return true;
}

std::u16string Utf8ToUtf16Replacing(std::string_view utf8)
{
    std::u16string out;
    for (size_t at = 0; at < utf8.size();) {
        bool complete = false;
        uint32_t code = 0;
        at += MatchSequence(utf8, at, &complete, &code);
        AppendUtf16(out, complete ? code : 0xFFFD);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16)
{
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t code = utf16[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[++i] - 0xDC00u);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}
