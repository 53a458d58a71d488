#include "device/program_image.h"

#include "device/hid_cmd.h"
#include "shell/app_state.h"
#include "update/package.h"

#include <windows.h>

#include <cstring>

namespace {

void ShowProgress(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    wvsprintfW(g_app.scratchText, format, args);
    va_end(args);
    SetWindowTextW(g_app.updateButton, g_app.scratchText);
}

// Reads `pageCount` pages into `working` and counts the bytes that differ
// from `expected`. A read-back that ends early leaves stale bytes in the
// buffer; those are counted as different rather than compared, so a device
// that stops answering can never pass for a verified one.
uint32_t VerifyPages(uint32_t firstPage, uint32_t pageCount, const uint8_t* expected, uint8_t* working)
{
    const uint32_t wanted = pageCount * FLASH_PAGE_SIZE;
    uint32_t received = ReadPages(firstPage, pageCount, working);
    if (received > wanted) received = wanted;
    uint32_t mismatches = wanted - received;
    for (uint32_t i = 0; i < received; ++i) mismatches += working[i] != expected[i];
    return mismatches;
}

}  // namespace

uint32_t ProgramImage(const uint8_t* package, char letter)
{
    const PackageHeader& header = *reinterpret_cast<const PackageHeader*>(package);
    const uint32_t first = PackageFirstBlock(header);
    const uint32_t last = PackageLastBlock(header);
    const uint32_t tailPages = header.tailPages;
    const uint8_t* data = package + PACKAGE_HEADER_LENGTH;
    const uint8_t* tail = data + (last - first) * FLASH_BLOCK_SIZE;
    const wchar_t tag = static_cast<unsigned char>(letter);
    uint8_t working[FLASH_BLOCK_SIZE];

    const uint32_t blockCount = last - first + 1;
    SendTestCommand(TEST_BEGIN_IMAGE, blockCount);
    ShowProgress(L"[ %5d ]", blockCount);

    // Each full block is erased just before it is written.
    for (uint32_t block = first; block < last; ++block) {
        EraseBlock(block);
        std::memcpy(working, data + (block - first) * FLASH_BLOCK_SIZE, FLASH_BLOCK_SIZE);
        WritePages(block * PAGES_PER_BLOCK, PAGES_PER_BLOCK, working);
        ShowProgress(L"%c - %5d -", tag, last - block);
    }

    // The last block is erased even without a tail, and the write command goes
    // out with a page count of 0 then.
    EraseBlock(last);
    if (tailPages > 0) std::memcpy(working, tail, tailPages * FLASH_PAGE_SIZE);
    WritePages(last * PAGES_PER_BLOCK, tailPages, working);

    // Everything is written before anything is read back.
    uint32_t mismatches = 0;
    for (uint32_t block = first; block < last; ++block) {
        mismatches +=
            VerifyPages(block * PAGES_PER_BLOCK, PAGES_PER_BLOCK, data + (block - first) * FLASH_BLOCK_SIZE, working);
        ShowProgress(L"Verify %c - %5d -", tag, last - block);
    }
    mismatches += VerifyPages(last * PAGES_PER_BLOCK, tailPages, tail, working);

    ShowProgress(L"Verify %c Complete!", tag);
    return mismatches;
}
