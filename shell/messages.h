#pragma once
// Every box text of the update service in one place. The string-table texts
// (140-142) live in the resources.

// Download
constexpr wchar_t TEXT_NOT_CONNECTED[] = L"未連線!請先上網!";
constexpr wchar_t TEXT_CANNOT_REACH_SERVER[] = L"無法鏈結伺服器!";
constexpr wchar_t TEXT_READ_FAILED[] = L"讀檔案出錯!";
constexpr wchar_t TEXT_FILE_TOO_LARGE[] = L"下載的檔案過大!";
constexpr wchar_t CAPTION_NETWORK[] = L"網路問題";

// Runtime errors (codes 03xx: identification, 04xx: update)
constexpr wchar_t CAPTION_RUNTIME_ERROR[] = L"執行時錯誤";
constexpr wchar_t FORMAT_ERROR_CODE[] = L"錯誤碼: %s";
constexpr wchar_t FORMAT_CATALOGUE_REFUSED[] = L"錯誤碼: 0302 %2d";
constexpr wchar_t FORMAT_IMAGE_BUFFER_MISSING[] = L"錯誤碼: 0401+%2d";
constexpr wchar_t FORMAT_IMAGE_REFUSED[] = L"錯誤碼: 0402 %2d";
constexpr wchar_t FORMAT_IMAGE_MISMATCH[] = L"錯誤碼: 0403+%2d\n%8d\n%8d";
// Signed builds only: the release statement refused (its code), and an image
// download that is not the file the statement names (the entry index).
constexpr wchar_t FORMAT_STATEMENT_REFUSED[] = L"錯誤碼: 0303 %2d";
constexpr wchar_t FORMAT_IMAGE_NOT_SIGNED[] = L"錯誤碼: 0404+%2d";
// Signed builds only: the record of accepted releases (HKCU\Software\RUVO)
// could not be read (-1) or written (-2).
constexpr wchar_t FORMAT_HISTORY_FAILED[] = L"錯誤碼: 0304 %2d\n無法讀寫已接受版本的紀錄";

// Out of date
constexpr wchar_t TEXT_UPDATER_OUTDATED[] = L"請下載最新版更新程式";
constexpr wchar_t CAPTION_UPDATER_OUTDATED[] = L"更新程式 過時";
constexpr wchar_t TEXT_CATALOGUE_OUTDATED[] = L"換個伺服器試試";
constexpr wchar_t CAPTION_CATALOGUE_OUTDATED[] = L"下載資料 過時";

// Identification and update
constexpr wchar_t FORMAT_VERSION[] = L"版本 : [ %S ]";
constexpr wchar_t TEXT_UPDATE_DONE_BOX[] = L"拔線＋離開程式\nGoodbye.";
constexpr wchar_t CAPTION_UPDATE_DONE[] = L"更新完成";
constexpr wchar_t TEXT_UPDATE_DONE_BUTTON[] = L"- 更 新 完 成 -";
