#include "tools/uidriver/text.h"

#include <cstdio>

std::string Quote(const std::wstring& text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'"':
            out += L"\\\"";
            break;
        case L'\\':
            out += L"\\\\";
            break;
        case L'\n':
            out += L"\\n";
            break;
        case L'\r':
            out += L"\\r";
            break;
        case L'\t':
            out += L"\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                wchar_t escaped[8];
                swprintf(escaped, 8, L"\\x%02X", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += L"\"";
    return Utf8(out);
}

Transcript::Transcript() : m_file(INVALID_HANDLE_VALUE), m_lost(false) {}

Transcript::~Transcript()
{
    if (m_file != INVALID_HANDLE_VALUE) {
        CloseHandle(m_file);
    }
}

bool Transcript::OpenFile(const std::wstring& path)
{
    m_file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    return m_file != INVALID_HANDLE_VALUE;
}

static bool Usable(HANDLE handle)
{
    return handle != INVALID_HANDLE_VALUE && handle != nullptr;
}

// Every byte, or false with the error: a pipe may take a write in parts.
static bool WriteAll(HANDLE handle, const std::string& bytes, DWORD& error)
{
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (written == 0) {
            error = ERROR_WRITE_FAULT;
            return false;
        }
        done += written;
    }
    return true;
}

void Transcript::Lose(const char* where, DWORD error)
{
    if (!m_lost) {
        Diagnostic(std::string("the transcript is lost: ") + where + " (error " + std::to_string(error) + ")");
    }
    m_lost = true;
}

void Transcript::Line(const std::string& utf8)
{
    const std::string line = utf8 + "\n";
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD error = 0;
    if (Usable(out) && !WriteAll(out, line, error)) {
        Lose("standard output does not take it", error);
    }
    if (Usable(m_file) && !WriteAll(m_file, line, error)) {
        Lose("the --out file does not take it", error);
    }
    if (!Usable(out) && !Usable(m_file)) {
        Lose("no standard output and no --out file", GetLastError());
    }
}

void Diagnostic(const std::string& utf8)
{
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD error = 0;
    if (Usable(err)) {
        WriteAll(err, "ruvo-driver: " + utf8 + "\n", error);
    }
}
