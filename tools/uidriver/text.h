#pragma once
// Text helpers of the driver: UTF-8 <-> UTF-16 (Utf8, Wide), quoting for
// the transcript, and the transcript itself (UTF-8 bytes written with
// WriteFile, which keeps Chinese intact where printf("%ls") would not).
#include <windows.h>

#include <string>

#include "common/wide_text_win32.h"

// "text" with \" \\ \n \r \t and \xNN for other control characters.
std::string Quote(const std::wstring& text);

// Lines of the transcript go to standard output and, when opened, to a file,
// each written whole as it comes (nothing is buffered, so a driver ended
// mid-run leaves every line it printed). A line that a destination does not
// take, or that has no destination, marks the transcript lost: the first
// loss is a diagnostic, and the driver then exits with its own code.
class Transcript {
public:
    Transcript();
    ~Transcript();
    bool OpenFile(const std::wstring& path);
    void Line(const std::string& utf8);
    bool Lost() const { return m_lost; }

private:
    void Lose(const char* where, DWORD error);

    HANDLE m_file;
    bool m_lost;
};

// A diagnostic line on standard error (never part of the transcript).
void Diagnostic(const std::string& utf8);
