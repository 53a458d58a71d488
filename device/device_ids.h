#pragma once
// The one supported device's USB ids. Portable: every HID back end matches on them.
#include <cstdint>

constexpr uint16_t DEVICE_VENDOR_ID = 0x0416;
constexpr uint16_t DEVICE_PRODUCT_ID = 0xF362;
