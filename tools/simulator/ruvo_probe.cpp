// ruvo-probe: finds the device the way the program does (Connect), reads the
// device information record from page DEVICE_INFO_PAGE and prints it.
// Exit code 0 when a record was read, 1 otherwise.
#include <cstdio>

#include "device/hid_cmd.h"

int main() {
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
  return 0;
}
