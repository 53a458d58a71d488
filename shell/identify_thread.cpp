// Identification: read the device's information record, show its version,
// fetch and accept the model's catalogue, fill the table and the option
// list, and enable the update button as the very last step.
#include "shell/update_threads.h"

#include "device/hid_cmd.h"
#include "resources/resource_ids.h"
#include "shell/app_state.h"
#include "shell/download.h"
#include "shell/messages.h"
#include "shell/platform.h"
#include "shell/signed_release.h"
#include "update/buffer_sizes.h"
#include "update/release_acceptance.h"
#include "update/server_layout.h"
#include "update/update_base_url.h"

#include <cstring>

namespace {

// "Check the network and try again": texts from the string table.
void ShowNetworkBox()
{
    LoadStringW(g_app.instance, IDS_NETWORK_TEXT, g_app.messageText, 100);
    LoadStringW(g_app.instance, IDS_NETWORK_CAPTION, g_app.scratchText, 100);
    ShowBox(g_app.messageText, g_app.scratchText, MB_ICONINFORMATION);
}

[[noreturn]] void EndWithBox(uint8_t* buffer, const wchar_t* text, const wchar_t* caption, UINT icon)
{
    ReleaseBuffer(buffer);
    ShowBox(text, caption, icon);
    EndProcess();
}

// A refused catalogue or statement: its code, then the network box.
[[noreturn]] void EndWithRefusal(uint8_t* buffer, const wchar_t* format, int32_t code)
{
    ReleaseBuffer(buffer);
    wsprintfW(g_app.scratchText, format, code);
    ShowBox(g_app.scratchText, CAPTION_RUNTIME_ERROR, MB_ICONERROR);
    ShowNetworkBox();
    EndProcess();
}

// The window's downloads: every failure has shown its own box, and what it
// leaves is no body, which the checks refuse.
class CWindowReleaseSource : public CReleaseSource {
public:
    explicit CWindowReleaseSource(uint8_t* buffer) : m_buffer(buffer) {}

    uint32_t FetchCatalogue(uint8_t* buffer, uint32_t capacity, bool, bool*) override
    {
        return Fetch(ServerFile::CATALOGUE, buffer, capacity);
    }

    // The statement lands behind the largest catalogue the check accepts; one
    // that holds is kept for the update's image checks.
    int32_t CheckStatement(const CatalogueFacts& catalogue, bool) override
    {
        uint8_t* statement = m_buffer + STATEMENT_OFFSET;
        const uint32_t length = Fetch(ServerFile::STATEMENT2, statement, STATEMENT_CAPACITY);
        return length == NO_BODY ? STATEMENT_MALFORMED
                                 : CheckReleaseStatement(statement, length, g_app.modelId, catalogue);
    }

private:
    static uint32_t Fetch(ServerFile file, uint8_t* buffer, uint32_t capacity)
    {
        char url[URL_TEXT_SIZE];
        FormatServerPath(url, sizeof url, UPDATE_BASE_URL, file, g_app.modelId);
        // A failed download (-1) arrives as NO_BODY.
        return static_cast<uint32_t>(DownloadFile(url, buffer, capacity));
    }

    uint8_t* m_buffer;
};

}  // namespace

DWORD WINAPI IdentifyThread(LPVOID)
{
    uint8_t* buffer = static_cast<uint8_t*>(AllocateBuffer(CATALOGUE_BUFFER_SIZE));
    if (!buffer) {
        wsprintfW(g_app.scratchText, FORMAT_ERROR_CODE, L"0301");
        ShowBox(g_app.scratchText, CAPTION_RUNTIME_ERROR, MB_ICONERROR);
        EndProcess();
    }

    // Cleared first: a read that fails leaves zeros, never stale heap bytes
    // that would be shown as a version or sent as a model id.
    std::memset(buffer, 0, CATALOGUE_BUFFER_SIZE);
    ReadPages(DEVICE_INFO_PAGE, 1, buffer);
    const DeviceInfo info = DecodeDeviceInfo(buffer);
    if (AcceptDevice(info).verdict != ReleaseVerdict::ACCEPTED)
        EndWithBox(buffer, TEXT_UPDATER_OUTDATED, CAPTION_UPDATER_OUTDATED, MB_ICONINFORMATION);

    std::memcpy(g_app.versionText, info.versionText, sizeof g_app.versionText);
    g_app.deviceVersion = info.deviceVersion;
    std::memcpy(g_app.modelId, info.modelId, sizeof g_app.modelId);
    std::memcpy(g_app.deviceSecondVersion, info.deviceSecondVersion, sizeof g_app.deviceSecondVersion);

    wsprintfW(g_app.scratchText, FORMAT_VERSION, g_app.versionText);
    SetWindowTextW(g_app.statusText, g_app.scratchText);

    CWindowReleaseSource source(buffer);
    CatalogueWalk walk;
    const ReleaseResult result = AcceptCatalogue(source, info.modelId, &info, ReleaseSigning(), buffer, &walk);
    switch (result.verdict) {
    case ReleaseVerdict::ACCEPTED:
        break;
    case ReleaseVerdict::CATALOGUE_REFUSED:
        EndWithRefusal(buffer, FORMAT_CATALOGUE_REFUSED, result.code);
    case ReleaseVerdict::STATEMENT_REFUSED:
        EndWithRefusal(buffer, FORMAT_STATEMENT_REFUSED, result.code);
    case ReleaseVerdict::HISTORY_FAILED:
        wsprintfW(g_app.scratchText, FORMAT_HISTORY_FAILED, result.code);
        EndWithBox(buffer, g_app.scratchText, CAPTION_RUNTIME_ERROR, MB_ICONERROR);
    case ReleaseVerdict::CATALOGUE_STALE:
        EndWithBox(buffer, TEXT_CATALOGUE_OUTDATED, CAPTION_CATALOGUE_OUTDATED, MB_ICONINFORMATION);
    case ReleaseVerdict::UPDATER_OUTDATED:
        EndWithBox(buffer, TEXT_UPDATER_OUTDATED, CAPTION_UPDATER_OUTDATED, MB_ICONINFORMATION);
    default:  // an empty answer; the window's downloads always deliver
        ShowNetworkBox();
        ReleaseBuffer(buffer);
        EndProcess();
    }

    // The table with the skip rules applied; the lines stand for every option.
    std::memcpy(g_app.catalogue, walk.entries, sizeof g_app.catalogue);
    g_app.catalogueCount = walk.count;
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "option lines are UTF-16");
    for (int32_t line = 0; line < walk.optionLineCount; ++line)
        SendMessageW(g_app.optionList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(walk.optionLines[line]));
    SendMessageW(g_app.optionList, CB_SETCURSEL, 0, 0);
    EnableWindow(g_app.optionList, TRUE);

    // Last: the update thread relies on the table being final once it can start.
    EnableWindow(g_app.updateButton, TRUE);
    ReleaseBuffer(buffer);
    return 0;
}
