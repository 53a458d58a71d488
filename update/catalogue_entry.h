#pragma once
// One row of the catalogue table: what identification fills in and the
// update reads. Apart from the walk, so that the program's record can hold
// the table without the walk's interface.
#include <cstdint>

constexpr int MAX_CATALOGUE_ENTRIES = 8;

struct CatalogueEntry {
    char name[32];  // image package file name on the server, NUL-terminated
    int32_t size;   // image package size in bytes; 0 = not to be programmed
};
