#include "device/program_sequence.h"

#include <cstring>

#include "device/package_header.h"

namespace {

// Reads `pageCount` pages into `working` and counts the bytes that differ
// from `expected`. A read-back that ends early leaves stale bytes in the
// buffer; those are counted as different rather than compared, so a device
// that stops answering can never pass for a verified one.
uint32_t VerifyPages(CCommandPort& port, uint32_t firstPage, uint32_t pageCount, const uint8_t* expected,
                     uint8_t* working)
{
    const uint32_t wanted = pageCount * FLASH_PAGE_SIZE;
    uint32_t received = port.ReadPages(firstPage, pageCount, working);
    if (received > wanted) received = wanted;
    uint32_t mismatches = wanted - received;
    for (uint32_t i = 0; i < received; ++i) mismatches += working[i] != expected[i];
    return mismatches;
}

}  // namespace

ProgramOutcome RunProgramSequence(CCommandPort& port, const uint8_t* package, CProgressSink& sink)
{
    const PackageHeader& header = *reinterpret_cast<const PackageHeader*>(package);
    const uint32_t first = PackageFirstBlock(header);
    const uint32_t last = PackageLastBlock(header);
    const uint32_t tailPages = header.tailPages;
    const uint8_t* data = package + PACKAGE_HEADER_LENGTH;
    const uint8_t* tail = data + (last - first) * FLASH_BLOCK_SIZE;
    uint8_t working[FLASH_BLOCK_SIZE];
    ProgramOutcome outcome{0, false};
    auto stop = [&]() { return outcome.stopped = outcome.stopped || sink.StopRequested(); };

    const uint32_t blockCount = last - first + 1;
    if (stop()) return outcome;
    port.SendTestCommand(TEST_BEGIN_IMAGE, blockCount);
    sink.ImageBegun(blockCount);

    // Each full block is erased just before it is written.
    for (uint32_t block = first; block < last; ++block) {
        if (stop()) return outcome;
        port.EraseBlock(block);
        std::memcpy(working, data + (block - first) * FLASH_BLOCK_SIZE, FLASH_BLOCK_SIZE);
        if (stop()) return outcome;
        port.WritePages(block * PAGES_PER_BLOCK, PAGES_PER_BLOCK, working);
        sink.BlockWritten(last - block);
    }

    // The last block is erased even without a tail, and the write command goes
    // out with a page count of 0 then.
    if (stop()) return outcome;
    port.EraseBlock(last);
    if (tailPages > 0) std::memcpy(working, tail, tailPages * FLASH_PAGE_SIZE);
    if (stop()) return outcome;
    port.WritePages(last * PAGES_PER_BLOCK, tailPages, working);
    sink.LastBlockWritten();

    // Everything is written before anything is read back.
    for (uint32_t block = first; block < last; ++block) {
        if (stop()) return outcome;
        outcome.mismatches += VerifyPages(port, block * PAGES_PER_BLOCK, PAGES_PER_BLOCK,
                                          data + (block - first) * FLASH_BLOCK_SIZE, working);
        sink.BlockVerified(last - block);
    }
    if (stop()) return outcome;
    outcome.mismatches += VerifyPages(port, last * PAGES_PER_BLOCK, tailPages, tail, working);

    sink.ImageVerified();
    return outcome;
}
