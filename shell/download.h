#pragma once
#include <cstdint>

// Fetches url into destination, which holds capacity bytes. Returns the body
// length (0 for an empty body), or -1 after a failure that has already been
// shown to the user in a box owned by the main window. A body longer than
// capacity is such a failure: nothing is ever written past the destination.
int32_t DownloadFile(const char* url, uint8_t* destination, uint32_t capacity);
