#pragma once
// The step script: one step per line, words separated by blanks, texts in
// double quotes (with \" \\ \n \t escapes), '#' starts a comment.
#include <string>
#include <vector>

struct Step {
    int line;                         // 1-based line in the script
    std::vector<std::wstring> words;  // the verb first
};

// False with a reason naming the line on an unterminated quote.
bool ParseScript(const std::string& utf8, std::vector<Step>& steps, std::string& error);
