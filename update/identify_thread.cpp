// Identification: read the device's information record, show its version,
// fetch and check the model's catalogue, fill the table and the option list,
// and enable the update button as the very last step.
#include "update/update_threads.h"

#include "device/hid_cmd.h"
#include "resources/resource_ids.h"
#include "shell/app_state.h"
#include "update/catalogue.h"
#include "update/device_info.h"
#include "update/download.h"
#include "update/messages.h"
#include "update/package.h"
#include "update/platform.h"
#include "update/release_keys.h"
#include "update/release_pair.h"
#include "update/signed_release.h"
#include "update/update_base_url.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t IDENTIFY_BUFFER_SIZE = 16384;

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

// The check or the walk refused the catalogue: its code, then the network box.
[[noreturn]] void EndWithRefusedCatalogue(uint8_t* buffer, int32_t code)
{
    ReleaseBuffer(buffer);
    wsprintfW(g_app.scratchText, FORMAT_CATALOGUE_REFUSED, code);
    ShowBox(g_app.scratchText, CAPTION_RUNTIME_ERROR, MB_ICONERROR);
    ShowNetworkBox();
    EndProcess();
}

// Signed builds: the statement was refused; its code, then the network box.
[[noreturn]] void EndWithRefusedStatement(uint8_t* buffer, int32_t code)
{
    ReleaseBuffer(buffer);
    wsprintfW(g_app.scratchText, FORMAT_STATEMENT_REFUSED, code);
    ShowBox(g_app.scratchText, CAPTION_RUNTIME_ERROR, MB_ICONERROR);
    ShowNetworkBox();
    EndProcess();
}

// Downloads the model's catalogue into the buffer and returns DownloadFile's
// result. Signed builds hash it exactly as downloaded, before the check
// decodes it in place.
int32_t FetchCatalogue(uint8_t* buffer, CatalogueFacts* catalogue)
{
    char url[URL_TEXT_SIZE];
    std::snprintf(url, sizeof url, "%sDoor/%s.Bin", UPDATE_BASE_URL, g_app.modelId);
    const int32_t length = DownloadFile(url, buffer, IDENTIFY_BUFFER_SIZE);
    if constexpr (SIGNED_RELEASES) {
        *catalogue = CatalogueFacts{};
        if (length >= 0) {
            catalogue->length = static_cast<uint32_t>(length);
            Sha256(buffer, catalogue->length, catalogue->sha256);
        }
        catalogue->decoded = buffer;
        catalogue->capacity = CATALOGUE_MAX_LENGTH;  // the statement is read in behind it
    }
    return length;
}

int32_t CheckCatalogue(uint8_t* buffer, int32_t length)
{
    // A failed download (-1) arrives as 4294967295 and is refused here.
    return CheckPackage(PACKAGE_CATALOGUE, buffer, static_cast<uint32_t>(length), g_app.modelId, IDENTIFY_BUFFER_SIZE);
}

// Signed builds: fetches Door/<model>.Sig into the buffer behind the largest
// catalogue the check accepts, and checks it against the trusted keys and
// the catalogue. A statement that holds is kept for the update's image checks.
int32_t FetchStatement(uint8_t* buffer, const CatalogueFacts& catalogue)
{
    uint8_t* statement = buffer + CATALOGUE_MAX_LENGTH;
    constexpr uint32_t STATEMENT_CAPACITY = IDENTIFY_BUFFER_SIZE - CATALOGUE_MAX_LENGTH;
    static_assert(STATEMENT_CAPACITY > STATEMENT_MAX_LENGTH, "a too long statement is read whole and refused");

    char url[URL_TEXT_SIZE];
    std::snprintf(url, sizeof url, "%sDoor/%s.Sig", UPDATE_BASE_URL, g_app.modelId);
    const int32_t length = DownloadFile(url, statement, STATEMENT_CAPACITY);
    // A failed download has shown its own box; what it leaves is no statement.
    return length < 0 ? STATEMENT_MALFORMED
                      : CheckStatement(statement, static_cast<uint32_t>(length), RELEASE_KEYS, RELEASE_KEY_COUNT,
                                       g_app.modelId, catalogue, &g_releaseStatement);
}

// Signed builds: the catalogue and its statement once more, into the same
// places. A catalogue refused here shows no 0302 box: the first pair's
// refusal is the one that stands.
int32_t FetchPairAgain(uint8_t* buffer, CatalogueFacts* catalogue, int32_t* length)
{
    *length = FetchCatalogue(buffer, catalogue);
    if (CheckCatalogue(buffer, *length) != PACKAGE_OK) return STATEMENT_MALFORMED;
    return FetchStatement(buffer, *catalogue);
}

// Signed builds: returns only when the catalogue in the buffer and its
// statement hold. A pair that a release swapped between the two requests may
// have split is fetched again (update/release_pair.h); `length` is then the
// second catalogue's.
void RequireReleaseStatement(uint8_t* buffer, CatalogueFacts* catalogue, int32_t* length)
{
    const int32_t code = CheckReleasePair([&] { return FetchStatement(buffer, *catalogue); },
                                          [&] { return FetchPairAgain(buffer, catalogue, length); });
    if (code != STATEMENT_OK) EndWithRefusedStatement(buffer, code);
}

}  // namespace

ReleaseStatement g_releaseStatement;

DWORD WINAPI IdentifyThread(LPVOID)
{
    uint8_t* buffer = static_cast<uint8_t*>(AllocateBuffer(IDENTIFY_BUFFER_SIZE));
    if (!buffer) {
        wsprintfW(g_app.scratchText, FORMAT_ERROR_CODE, L"0301");
        ShowBox(g_app.scratchText, CAPTION_RUNTIME_ERROR, MB_ICONERROR);
        EndProcess();
    }

    // Cleared first: a read that fails leaves zeros, never stale heap bytes
    // that would be shown as a version or sent as a model id.
    std::memset(buffer, 0, IDENTIFY_BUFFER_SIZE);
    ReadPages(DEVICE_INFO_PAGE, 1, buffer);
    const DeviceInfo info = DecodeDeviceInfo(buffer);
    if (info.updaterLevel > MAX_UPDATER_LEVEL)
        EndWithBox(buffer, TEXT_UPDATER_OUTDATED, CAPTION_UPDATER_OUTDATED, MB_ICONINFORMATION);

    std::memcpy(g_app.versionText, info.versionText, sizeof g_app.versionText);
    g_app.deviceVersion = info.deviceVersion;
    std::memcpy(g_app.modelId, info.modelId, sizeof g_app.modelId);
    std::memcpy(g_app.deviceSecondVersion, info.deviceSecondVersion, sizeof g_app.deviceSecondVersion);

    wsprintfW(g_app.scratchText, FORMAT_VERSION, g_app.versionText);
    SetWindowTextW(g_app.statusText, g_app.scratchText);

    CatalogueFacts catalogue{};
    int32_t length = FetchCatalogue(buffer, &catalogue);
    const int32_t code = CheckCatalogue(buffer, length);
    if (code != PACKAGE_OK) EndWithRefusedCatalogue(buffer, code);

    // Nothing of the catalogue is used before its publisher's statement holds.
    if constexpr (SIGNED_RELEASES) RequireReleaseStatement(buffer, &catalogue, &length);

    const uint8_t status = reinterpret_cast<const PackageHeader*>(buffer)->status;
    if (status < CATALOGUE_STATUS_CURRENT)
        EndWithBox(buffer, TEXT_CATALOGUE_OUTDATED, CAPTION_CATALOGUE_OUTDATED, MB_ICONINFORMATION);
    if (status > CATALOGUE_STATUS_CURRENT)
        EndWithBox(buffer, TEXT_UPDATER_OUTDATED, CAPTION_UPDATER_OUTDATED, MB_ICONINFORMATION);

    // Not reachable through the check: an accepted package holds at least its
    // 32-byte header. Kept so that an empty answer can never be walked.
    if (length == 0) {
        ShowNetworkBox();
        ReleaseBuffer(buffer);
        EndProcess();
    }

    // The whole catalogue is read before anything is shown, so a catalogue
    // that breaks a limit is refused as a whole, never cut.
    CatalogueWalk walk;
    const int32_t walkCode = WalkCatalogue(buffer, IDENTIFY_BUFFER_SIZE, &walk);
    if (walkCode != CATALOGUE_OK) EndWithRefusedCatalogue(buffer, walkCode);

    std::memcpy(g_app.catalogue, walk.entries, sizeof g_app.catalogue);
    g_app.catalogueCount = walk.count;
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "option lines are UTF-16");
    for (int32_t line = 0; line < walk.optionLineCount; ++line)
        SendMessageW(g_app.optionList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(walk.optionLines[line]));
    SendMessageW(g_app.optionList, CB_SETCURSEL, 0, 0);
    EnableWindow(g_app.optionList, TRUE);

    ApplySkipRules(g_app.catalogue, g_app.catalogueCount, walk.comparisonText, g_app.deviceVersion,
                   g_app.deviceSecondVersion);

    // Last: the update thread relies on the table being final once it can start.
    EnableWindow(g_app.updateButton, TRUE);
    ReleaseBuffer(buffer);
    return 0;
}
