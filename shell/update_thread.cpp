// The update: download, check, program and verify each needed image in table
// order, then tell the user to unplug and send the finish command.
//
// A signed build downloads and accepts every planned image before the first
// erase: a server that lets image 0 through and refuses image 1 could
// otherwise leave the device holding a mix that was never released. The
// default build keeps its order, download one, program it, then the next.
// Holding every image costs at most three buffers at once (base 0, base 1
// and the one chosen option), each the catalogue's size and 128 bytes.
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

// The accepted downloads of one update, by plan step, each held from its
// acceptance until it is programmed.
struct HeldImages {
    uint8_t* buffers[MAX_CATALOGUE_ENTRIES] = {};
    int32_t lengths[MAX_CATALOGUE_ENTRIES] = {};
};

void Release(HeldImages& held, int32_t step)
{
    if (held.buffers[step] != nullptr) ReleaseBuffer(held.buffers[step]);
    held.buffers[step] = nullptr;
}

// Every path out of the update releases what it still holds first: the box
// ends the process, and the stack is never unwound.
[[noreturn]] void EndWithError(HeldImages& held, const wchar_t* format, ...)
{
    for (int32_t step = 0; step < MAX_CATALOGUE_ENTRIES; ++step) Release(held, step);
    va_list args;
    va_start(args, format);
    wvsprintfW(g_app.scratchText, format, args);
    va_end(args);
    ShowBox(g_app.scratchText, CAPTION_RUNTIME_ERROR, MB_ICONERROR);
    EndProcess();
}

// Downloads catalogue entry `index` into a buffer of its own and accepts it
// (on a signed build first the very file the statement names), or ends the
// update with its box.
void FetchImage(int32_t index, int32_t step, HeldImages& held)
{
    const CatalogueEntry& entry = g_app.catalogue[index];
    LoadStringW(g_app.instance, IDS_DOWNLOADING, g_app.scratchText, 100);
    SetWindowTextW(g_app.updateButton, g_app.scratchText);

    const uint32_t capacity = ImageBufferCapacity(entry.size);
    uint8_t* buffer = static_cast<uint8_t*>(AllocateBuffer(capacity));
    if (!buffer) EndWithError(held, FORMAT_IMAGE_BUFFER_MISSING, index);
    held.buffers[step] = buffer;
    // Cleared, so that what a failed download leaves is checked as zeros,
    // never as stale heap bytes.
    std::memset(buffer, 0, capacity);

    char url[URL_TEXT_SIZE];
    FormatServerPath(url, sizeof url, UPDATE_BASE_URL, ServerFile::IMAGE, entry.name);
    // A failed download (-1) arrives as NO_BODY and is refused by the check.
    const int32_t length = DownloadFile(url, buffer, capacity);
    const ReleaseResult result =
        AcceptImage(ReleaseSigning(), index, entry, buffer, static_cast<uint32_t>(length), capacity);
    if (result.verdict != ReleaseVerdict::ACCEPTED) {
        EndWithError(held,
                     result.verdict == ReleaseVerdict::IMAGE_NOT_SIGNED ? FORMAT_IMAGE_NOT_SIGNED : FORMAT_IMAGE_REFUSED,
                     result.code);
    }
    // Not reachable through the check (an accepted package holds its
    // header); kept so an empty answer can never be programmed.
    if (length == 0) EndWithError(held, FORMAT_IMAGE_MISMATCH, index, 0, 0);
    held.lengths[step] = length;
}

// Programs and verifies the accepted image of plan step `step` (catalogue
// entry `index`) and releases its buffer, or ends the update with its box.
void ProgramHeldImage(int32_t index, int32_t step, HeldImages& held)
{
    const uint32_t mismatches = ProgramImage(held.buffers[step], ImageLetter(index));
    Release(held, step);
    if (mismatches != 0) EndWithError(held, FORMAT_IMAGE_MISMATCH, index, held.lengths[step], mismatches);
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
    HeldImages held;
    const bool fetchAllFirst = ReleaseSigning() != nullptr;
    if (fetchAllFirst) {
        for (int32_t step = 0; step < planned; ++step) FetchImage(plan[step], step, held);
    }
    for (int32_t step = 0; step < planned; ++step) {
        if (!fetchAllFirst) FetchImage(plan[step], step, held);
        ProgramHeldImage(plan[step], step, held);
    }

    ShowBox(TEXT_UPDATE_DONE_BOX, CAPTION_UPDATE_DONE, MB_ICONINFORMATION);
    wsprintfW(g_app.scratchText, L"%s", TEXT_UPDATE_DONE_BUTTON);
    SetWindowTextW(g_app.updateButton, g_app.scratchText);
    EnableWindow(g_app.exitButton, TRUE);
    // Only after the user has closed the box and can leave.
    SendTestCommand(TEST_FINISH, TEST_FINISH);
    return 1;
}
