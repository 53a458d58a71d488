// ruvo-probe: finds the device the way the program does (Connect), reads the
// device information record from page DEVICE_INFO_PAGE and prints it.
//   ruvo-probe            exit code 0 when a record was read, 1 otherwise
//   ruvo-probe --bench N  also times N one-page writes and N one-page reads
//                         (after erasing block 0) and prints the rates
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/hid_cmd.h"
#include "tools/common/numbers.h"

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

static int Bench(unsigned rounds)
{
    uint8_t page[FLASH_PAGE_SIZE];
    std::memset(page, 0x5A, sizeof page);
    EraseBlock(0);
    LARGE_INTEGER start, middle, end;
    QueryPerformanceCounter(&start);
    for (unsigned i = 0; i < rounds; ++i)
        if (WritePages(i % PAGES_PER_BLOCK, 1, page) != FLASH_PAGE_SIZE) return 1;
    QueryPerformanceCounter(&middle);
    for (unsigned i = 0; i < rounds; ++i)
        if (ReadPages(i % PAGES_PER_BLOCK, 1, page) != FLASH_PAGE_SIZE) return 1;
    QueryPerformanceCounter(&end);
    const double writeSeconds = Seconds(start, middle), readSeconds = Seconds(middle, end);
    // A one-page write is 5 output reports; a one-page read is one output
    // report answered by 4 input reports.
    std::printf("writes: %u pages in %.3f s, %.0f output reports/s\n", rounds, writeSeconds, rounds * 5 / writeSeconds);
    std::printf("reads:  %u pages in %.3f s, %.0f command+answer round trips/s, %.0f reports/s\n", rounds, readSeconds,
                rounds / readSeconds, rounds * 5 / readSeconds);
    return 0;
}

int main(int argc, char** argv)
{
    if (!Connect()) {
        std::printf("ruvo-probe: no device %04X:%04X found\n", DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID);
        return 1;
    }
    uint8_t page[FLASH_PAGE_SIZE];
    const uint32_t got = ReadPages(DEVICE_INFO_PAGE, 1, page);
    if (got < DEVICE_INFO_SIZE) {
        std::printf("ruvo-probe: read %u bytes of page %u\n", got, DEVICE_INFO_PAGE);
        return 1;
    }
    std::printf("information record:");
    for (uint32_t i = 0; i < DEVICE_INFO_SIZE; ++i) std::printf(" %02X", page[i]);
    std::printf("\nmodel id: ");
    for (uint32_t i = 12; i < 16; ++i) std::putchar(page[i] >= 0x20 && page[i] < 0x7F ? page[i] : '.');
    std::printf("\nupdater level: %u\n", page[7]);
    if (argc == 3 && std::strcmp(argv[1], "--bench") == 0) {
        uint64_t rounds = 0;
        if (!ParseNumber(argv[2], 1000000, rounds)) {
            std::printf("ruvo-probe: --bench takes a count up to 1000000, not %s\n", argv[2]);
            return 2;
        }
        return Bench(static_cast<unsigned>(rounds));
    }
    return 0;
}
