#include "update/release_history_folder.h"

#include <windows.h>

#include "common/wide_text_win32.h"

namespace {

// Makes the folder and the parents it lacks. A parent that cannot be made
// (a drive root, a share's server name) is skipped: what counts is that the
// folder itself exists at the end.
bool MakeFolders(const std::wstring& folder)
{
    for (size_t at = folder.find_first_of(L"\\/", 1); at != std::wstring::npos;
         at = folder.find_first_of(L"\\/", at + 1))
        CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

HistoryRead CFolderHistory::Read(const char* name, AcceptedRelease* release)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *release = AcceptedRelease{};
    if (m_folder.empty()) return HistoryRead::UNREADABLE;
    const HANDLE file = CreateFileW(Wide(m_folder + "\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // No folder yet is no record yet: the first write makes it.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? HistoryRead::NONE
                                                                              : HistoryRead::UNREADABLE;
    }
    // One byte more than a record holds, so a longer file is seen and refused.
    char text[HISTORY_TEXT_SIZE + 1];
    DWORD length = 0;
    const BOOL read = ReadFile(file, text, sizeof text, &length, nullptr);
    CloseHandle(file);
    if (!read || !ParseAcceptedRelease(text, length, release)) return HistoryRead::UNREADABLE;
    return HistoryRead::FOUND;
}

bool CFolderHistory::Write(const char* name, const AcceptedRelease& release)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_folder.empty()) return false;
    const std::wstring folder = Wide(m_folder);
    if (!MakeFolders(folder)) return false;
    char text[HISTORY_TEXT_SIZE];
    const DWORD length = static_cast<DWORD>(FormatAcceptedRelease(release, text));
    const std::wstring path = folder + L"\\" + Wide(name);
    const std::wstring scratch = path + L".new." + std::to_wstring(GetCurrentProcessId());
    const HANDLE file =
        CreateFileW(scratch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text, length, &written, nullptr) && written == length && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok || !MoveFileExW(scratch.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(scratch.c_str());
        return false;
    }
    return true;
}

std::string DefaultHistoryFolder()
{
    return "";  // Windows keeps the records in the registry (release_history_registry_win32.cpp)
}
