// The update: download, check, program and verify each needed image in table
// order, then tell the user to unplug and send the finish command.
#include "shell/update_threads.h"

#include "device/hid_cmd.h"
#include "resources/resource_ids.h"
#include "shell/app_state.h"
#include "shell/download.h"
#include "shell/messages.h"
#include "shell/platform.h"
#include "shell/program_image.h"
#include "shell/signed_release.h"
#include "update/buffer_sizes.h"
#include "update/catalogue.h"
#include "update/image_plan.h"
#include "update/release_acceptance.h"
#include "update/server_layout.h"
#include "update/update_base_url.h"

#include <cstring>

namespace {

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
    // No selection (-1) chooses no optional image; a selection is always one of the lines.
    const int32_t chosen =
        ChosenEntry(static_cast<int32_t>(SendMessageW(g_app.optionList, CB_GETCURSEL, 0, 0)), MAX_OPTION_LINES);
    EnableWindow(g_app.optionList, FALSE);

    int32_t plan[MAX_CATALOGUE_ENTRIES];
    const int32_t planned = PlanImages(g_app.catalogue, g_app.catalogueCount, chosen, plan);
    for (int32_t step = 0; step < planned; ++step) {
        const int32_t i = plan[step];
        const CatalogueEntry& entry = g_app.catalogue[i];

        LoadStringW(g_app.instance, IDS_DOWNLOADING, g_app.scratchText, 100);
        SetWindowTextW(g_app.updateButton, g_app.scratchText);

        const uint32_t capacity = ImageBufferCapacity(entry.size);
        uint8_t* buffer = static_cast<uint8_t*>(AllocateBuffer(capacity));
        if (!buffer) EndWithError(FORMAT_IMAGE_BUFFER_MISSING, i);
        // Cleared, so that what a failed download leaves is checked as zeros,
        // never as stale heap bytes.
        std::memset(buffer, 0, capacity);

        char url[URL_TEXT_SIZE];
        FormatServerPath(url, sizeof url, UPDATE_BASE_URL, ServerFile::IMAGE, entry.name);
        // A failed download (-1) arrives as NO_BODY and is refused by the check.
        const int32_t length = DownloadFile(url, buffer, capacity);
        const ReleaseResult result = AcceptImage(ReleaseSigning(), i, entry, buffer, static_cast<uint32_t>(length), capacity);
        if (result.verdict != ReleaseVerdict::ACCEPTED) {
            ReleaseBuffer(buffer);
            EndWithError(result.verdict == ReleaseVerdict::IMAGE_NOT_SIGNED ? FORMAT_IMAGE_NOT_SIGNED
                                                                            : FORMAT_IMAGE_REFUSED,
                         result.code);
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
