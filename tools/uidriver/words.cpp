#include "tools/uidriver/words.h"

bool SplitWords(const std::wstring& line, std::vector<std::wstring>& words)
{
    size_t i = 0;
    while (i < line.size()) {
        wchar_t c = line[i];
        if (c == L' ' || c == L'\t' || c == L'\r') {
            ++i;
            continue;
        }
        if (c == L'#') {
            break;
        }
        std::wstring word;
        if (c == L'"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                c = line[i++];
                if (c == L'"') {
                    closed = true;
                    break;
                }
                if (c == L'\\' && i < line.size()) {
                    const wchar_t next = line[i++];
                    word += next == L'n' ? L'\n' : next == L't' ? L'\t' : next == L'r' ? L'\r' : next;
                } else {
                    word += c;
                }
            }
            if (!closed) {
                return false;
            }
        } else {
            while (i < line.size() && line[i] != L' ' && line[i] != L'\t' && line[i] != L'\r') {
                word += line[i++];
            }
        }
        words.push_back(word);
    }
    return true;
}
