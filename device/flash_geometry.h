#pragma once
// Flash and report geometry of the device, shared by the program, the
// simulator and the tests. Portable: no platform header.
#include <cstddef>
#include <cstdint>

constexpr uint32_t FLASH_PAGE_SIZE = 256;                                 // bytes per page
constexpr uint32_t PAGES_PER_BLOCK = 16;                                  // pages per erase block
constexpr uint32_t FLASH_BLOCK_SIZE = FLASH_PAGE_SIZE * PAGES_PER_BLOCK;  // 4096
constexpr uint32_t FLASH_PAGE_COUNT = 8192;
constexpr uint32_t FLASH_BLOCK_COUNT = FLASH_PAGE_COUNT / PAGES_PER_BLOCK;  // 512
constexpr uint32_t FLASH_SIZE = FLASH_PAGE_COUNT * FLASH_PAGE_SIZE;         // 2 MiB

// The device information record lives in the first 16 bytes of this page,
// the last page of block 510.
constexpr uint32_t DEVICE_INFO_PAGE = 8175;
constexpr uint32_t DEVICE_INFO_SIZE = 16;

// Every HID report, in both directions: report id byte plus 64 payload bytes.
constexpr size_t REPORT_SIZE = 65;
constexpr size_t REPORT_PAYLOAD_SIZE = 64;
constexpr uint32_t REPORTS_PER_PAGE = FLASH_PAGE_SIZE / REPORT_PAYLOAD_SIZE;  // 4

static_assert(FLASH_BLOCK_SIZE == 4096, "a block is 4096 bytes");
static_assert(FLASH_BLOCK_COUNT == 512, "the flash holds 512 blocks");
static_assert(DEVICE_INFO_PAGE / PAGES_PER_BLOCK == 510, "info page is in block 510");
