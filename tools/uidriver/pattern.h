#pragma once
// The patterns of `wait-match`. Portable, so it is tested natively.

// True when `text` matches `pattern` as a whole: '*' stands for any run of
// characters (also none); every other character matches only itself.
bool Matches(const wchar_t* pattern, const wchar_t* text);
