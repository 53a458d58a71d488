#pragma once
// Catalogue table shared by identification (fills it) and the update (reads it).
#include <cstdint>

constexpr int MAX_CATALOGUE_ENTRIES = 8;

struct CatalogueEntry {
    char name[32];   // image package file name on the server, NUL-terminated
    int32_t size;    // image package size in bytes; 0 = not to be programmed
};
