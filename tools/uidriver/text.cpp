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

Transcript::Transcript() : m_file(INVALID_HANDLE_VALUE) {}

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

static void WriteAll(HANDLE handle, const std::string& bytes)
{
    DWORD written = 0;
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr) {
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

void Transcript::Line(const std::string& utf8)
{
    const std::string line = utf8 + "\n";
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), line);
    WriteAll(m_file, line);
}

void Diagnostic(const std::string& utf8)
{
    WriteAll(GetStdHandle(STD_ERROR_HANDLE), "ruvo-driver: " + utf8 + "\n");
}
