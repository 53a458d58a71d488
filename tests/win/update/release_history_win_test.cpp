// The Windows stores of accepted releases: the registry (HKCU\Software\RUVO)
// the window and ruvo-flash share, and the folder store of --state. A value
// or file that is not a record is an unreadable store, never an empty one.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/support/history_store_checks.h"
#include "update/release_history_folder.h"
#include "update/release_history_registry.h"

namespace {

constexpr char NAME[] = "T999.0011223344556677";
constexpr wchar_t WIDE_NAME[] = L"T999.0011223344556677";

void DeleteTestValue()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\RUVO", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, WIDE_NAME);
        RegCloseKey(key);
    }
}

TEST(RegistryHistory, ReadsBackWhatItWroteAsOneStringValue)
{
    DeleteTestValue();
    CRegistryHistory history;
    ExpectLaterWriteReadsBack(history, NAME, 41);

    wchar_t text[128] = {};
    DWORD size = sizeof text;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\RUVO", WIDE_NAME, RRF_RT_REG_SZ, nullptr, text, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text).substr(0, 3), L"42 ");
    DeleteTestValue();
}

TEST(RegistryHistory, AValueThatIsNoRecordIsUnreadable)
{
    const struct {
        const char* what;
        DWORD type;
        std::wstring text;
    } cases[] = {
        {"a number", REG_DWORD, L"\x0007"},
        {"a damaged text", REG_SZ, L"42 not a digest"},
        {"an empty text", REG_SZ, L""},
        {"a text longer than a record", REG_SZ, L"42 " + std::wstring(200, L'a')},
    };
    for (const auto& c : cases) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\RUVO", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        const DWORD bytes = c.type == REG_DWORD ? 4 : DWORD((c.text.size() + 1) * sizeof(wchar_t));
        ASSERT_EQ(RegSetValueExW(key, WIDE_NAME, 0, c.type, reinterpret_cast<const BYTE*>(c.text.c_str()), bytes),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        CRegistryHistory history;
        AcceptedRelease got{};
        EXPECT_EQ(history.Read(NAME, &got), HistoryRead::UNREADABLE) << c.what;
    }
    DeleteTestValue();
}

TEST(FolderHistoryWin32, ReplacesItsRecordWhole)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring top = std::wstring(temp) + L"ruvo-history-test-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring folder = top + L"\\state\\ruvo-flash";  // parents made as needed
    std::string narrow(folder.begin(), folder.end());
    CFolderHistory history(narrow);
    ExpectLaterWriteReadsBack(history, NAME, 7);
    DeleteFileW((folder + L"\\" + WIDE_NAME).c_str());
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "only the record was left in the folder";
    RemoveDirectoryW((top + L"\\state").c_str());
    RemoveDirectoryW(top.c_str());
}

}  // namespace
