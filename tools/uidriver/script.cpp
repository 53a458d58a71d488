#include "tools/uidriver/script.h"

#include "tools/uidriver/text.h"

static bool SplitWords(const std::wstring& line, std::vector<std::wstring>& words)
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

bool ParseScript(const std::string& utf8, std::vector<Step>& steps, std::string& error)
{
    size_t start = 0;
    int number = 0;
    // A UTF-8 byte order mark is not part of the first step.
    if (utf8.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        start = 3;
    }
    while (start <= utf8.size()) {
        size_t end = utf8.find('\n', start);
        if (end == std::string::npos) {
            end = utf8.size();
        }
        ++number;
        const std::string source = utf8.substr(start, end - start);
        Step step;
        step.line = number;
        if (!SplitWords(Wide(source), step.words)) {
            error = "line " + std::to_string(number) + ": unterminated quote";
            return false;
        }
        if (!step.words.empty()) {
            steps.push_back(step);
        }
        start = end + 1;
    }
    return true;
}
