#pragma once
// Which icon an icon static shows. The icon handle of another process is of
// no use here (icons live in their process), so the static's pixels are read
// from the screen and compared with each candidate drawn the same way.
#include <windows.h>

#include <string>
#include <vector>

struct IconCandidate {
    std::string name;  // "error", "warning", "information", "question" or a resource id
    HICON icon;
};

// The four message-box icons and every icon group of the program's file.
std::vector<IconCandidate> LoadIconCandidates(const std::wstring& programFile);

// The best-matching candidate's name; "none" when the static shows nothing
// but its background, "unknown" when nothing matches closely.
std::string RecogniseIcon(HWND iconStatic, const std::vector<IconCandidate>& candidates);
