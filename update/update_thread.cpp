// The update: download, check, program and verify each needed image in table
// order, then tell the user to unplug and send the finish command.
#include "update/update_threads.h"

#include "device/hid_cmd.h"
#include "device/program_image.h"
#include "resources/resource_ids.h"
#include "shell/app_state.h"
#include "update/download.h"
#include "update/messages.h"
#include "update/package.h"
#include "update/platform.h"
#include "update/release_keys.h"
#include "update/signed_release.h"
#include "update/update_base_url.h"

#include <cstdio>
#include <cstring>

namespace {

// The download may be a little larger than the catalogue announced.
constexpr uint32_t IMAGE_BUFFER_SLACK = 128;

char ImageLetter(int32_t entry)
{
    return entry == 0 ? 'T' : entry == 1 ? 'V' : 'C';
}

[[noreturn]] void EndWithError(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    wvsprintfW(g_app.scratchText, format, args);
    va_end(args);
    ShowBox(g_app.scratchText, CAPTION_RUNTIME_ERROR, MB_ICONERROR);
    EndProcess();
}

}  // namespace

DWORD WINAPI UpdateThread(LPVOID)
{
    EnableWindow(g_app.updateButton, FALSE);
    EnableWindow(g_app.exitButton, FALSE);
    // No selection (-1) makes the chosen entry 1, so no optional image qualifies.
    const int32_t chosen = static_cast<int32_t>(SendMessageW(g_app.optionList, CB_GETCURSEL, 0, 0)) + 2;
    EnableWindow(g_app.optionList, FALSE);

    for (int32_t i = 0; i < g_app.catalogueCount; ++i) {
        const CatalogueEntry& entry = g_app.catalogue[i];
        if (entry.size == 0 || (i >= 2 && i != chosen)) continue;

        LoadStringW(g_app.instance, IDS_DOWNLOADING, g_app.scratchText, 100);
        SetWindowTextW(g_app.updateButton, g_app.scratchText);

        // The catalogue walk refused sizes beyond a whole flash, so this fits.
        const uint32_t capacity = static_cast<uint32_t>(entry.size) + IMAGE_BUFFER_SLACK;
        uint8_t* buffer = static_cast<uint8_t*>(AllocateBuffer(capacity));
        if (!buffer) EndWithError(FORMAT_IMAGE_BUFFER_MISSING, i);
        // Cleared, so that what a failed download leaves is checked as zeros,
        // never as stale heap bytes.
        std::memset(buffer, 0, capacity);

        char url[URL_TEXT_SIZE];
        std::snprintf(url, sizeof url, "%sPool/%s", UPDATE_BASE_URL, entry.name);
        const int32_t length = DownloadFile(url, buffer, capacity);

        // Signed builds: the download must be the very file the publisher
        // signed, before the check decodes it and before any block is erased.
        // A failed download (-1) keeps its own path to the 0402 box.
        if constexpr (SIGNED_RELEASES) {
            if (length != -1 && !ImageMatchesStatement(g_releaseStatement, i, buffer, static_cast<uint32_t>(length))) {
                ReleaseBuffer(buffer);
                EndWithError(FORMAT_IMAGE_NOT_SIGNED, i);
            }
        }

        // The URL text now holds the image's package id: characters 2 to 5.
        std::memcpy(url, entry.name + 2, 4);
        url[4] = '\0';
        const int32_t code = CheckPackage(PACKAGE_IMAGE, buffer, static_cast<uint32_t>(length), url, capacity);
        if (code != PACKAGE_OK) {
            ReleaseBuffer(buffer);
            EndWithError(FORMAT_IMAGE_REFUSED, code);
        }
        // Not reachable through the check (an accepted package holds its
        // header); kept so an empty answer can never be programmed.
        if (length == 0) {
            ReleaseBuffer(buffer);
            EndWithError(FORMAT_IMAGE_MISMATCH, i, 0, 0);
        }

        const uint32_t mismatches = ProgramImage(buffer, ImageLetter(i));
        ReleaseBuffer(buffer);
        if (mismatches != 0) EndWithError(FORMAT_IMAGE_MISMATCH, i, length, mismatches);
    }

    ShowBox(TEXT_UPDATE_DONE_BOX, CAPTION_UPDATE_DONE, MB_ICONINFORMATION);
    wsprintfW(g_app.scratchText, L"%s", TEXT_UPDATE_DONE_BUTTON);
    SetWindowTextW(g_app.updateButton, g_app.scratchText);
    EnableWindow(g_app.exitButton, TRUE);
    // Only after the user has closed the box and can leave.
    SendTestCommand(TEST_FINISH, TEST_FINISH);
    return 1;
}
