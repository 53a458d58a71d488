#pragma once
// One line of a step script split into words. Portable, so it is tested natively.
#include <string>
#include <vector>

// Words are separated by blanks, tabs or a carriage return; "..." is one word
// with the escapes \n \t \r (any other escaped character stands for itself);
// '#' outside quotes ends the line. Appends to `words`; false on an
// unterminated quote.
bool SplitWords(const std::wstring& line, std::vector<std::wstring>& words);
