#include "update/release_history_registry.h"

#include <windows.h>

namespace {

constexpr wchar_t HISTORY_KEY[] = L"Software\\RUVO";

// Value names and texts are ASCII: model ids, hex and digits.
void Widen(const char* text, size_t length, wchar_t* wide)
{
    for (size_t i = 0; i < length; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    wide[length] = 0;
}

}  // namespace

HistoryRead CRegistryHistory::Read(const char* name, AcceptedRelease* release)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *release = AcceptedRelease{};
    wchar_t valueName[HISTORY_NAME_SIZE];
    Widen(name, strnlen(name, HISTORY_NAME_SIZE - 1), valueName);
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, HISTORY_KEY, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return HistoryRead::NONE;
    if (status != ERROR_SUCCESS) return HistoryRead::UNREADABLE;
    // One character more than a record holds, so a longer value is refused.
    wchar_t wide[HISTORY_TEXT_SIZE + 1] = {};
    DWORD type = 0, size = sizeof wide - sizeof(wchar_t);
    status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(wide), &size);
    RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND) return HistoryRead::NONE;
    if (status != ERROR_SUCCESS || type != REG_SZ) return HistoryRead::UNREADABLE;
    char text[HISTORY_TEXT_SIZE + 1];
    size_t length = 0;
    for (; length < size / sizeof(wchar_t) && wide[length] != 0; ++length) {
        if (wide[length] > 0x7F) return HistoryRead::UNREADABLE;
        text[length] = static_cast<char>(wide[length]);
    }
    return ParseAcceptedRelease(text, length, release) ? HistoryRead::FOUND : HistoryRead::UNREADABLE;
}

bool CRegistryHistory::Write(const char* name, const AcceptedRelease& release)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    wchar_t valueName[HISTORY_NAME_SIZE];
    Widen(name, strnlen(name, HISTORY_NAME_SIZE - 1), valueName);
    char text[HISTORY_TEXT_SIZE];
    // Stored without its line end: a registry string is one line.
    size_t length = FormatAcceptedRelease(release, text);
    if (length > 0 && text[length - 1] == '\n') --length;
    wchar_t wide[HISTORY_TEXT_SIZE];
    Widen(text, length, wide);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, HISTORY_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide),
                                       static_cast<DWORD>((length + 1) * sizeof(wchar_t)));
    const bool flushed = status == ERROR_SUCCESS && RegFlushKey(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return flushed;
}
