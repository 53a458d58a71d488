#pragma once
// Puts one checked image package into the device flash and reads it back.
#include <cstdint>

// `package` is an image package that CheckPackage accepted: its header fits
// its body, so every block and the tail lie inside it. `letter` tags the
// progress texts shown on the update button. Returns the number of bytes that
// read back differently (bytes that never arrived count as different); 0 means
// the image is in the device.
uint32_t ProgramImage(const uint8_t* package, char letter);
