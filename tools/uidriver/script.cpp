#include "tools/uidriver/script.h"

#include "tools/uidriver/text.h"
#include "tools/uidriver/words.h"

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
