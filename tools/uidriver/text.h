#pragma once
// Text helpers of the driver: UTF-8 <-> UTF-16 (Utf8, Wide), quoting for
// the transcript, and the transcript itself (UTF-8 bytes written with
// WriteFile, which keeps Chinese intact where printf("%ls") would not).
#include <windows.h>

#include <string>

#include "common/wide_text_win32.h"

// "text" with \" \\ \n \r \t and \xNN for other control characters.
std::string Quote(const std::wstring& text);

// Lines of the transcript go to standard output and, when opened, to a file.
class Transcript {
public:
    Transcript();
    ~Transcript();
    bool OpenFile(const std::wstring& path);
    void Line(const std::string& utf8);

private:
    HANDLE m_file;
};

// A diagnostic line on standard error (never part of the transcript).
void Diagnostic(const std::string& utf8);
