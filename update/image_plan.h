#pragma once
// Which images an update programs, and in which order: the table's order,
// entry 0 and 1 (the base images) unless the device already carries them,
// and of the optional entries only the one the user chose.
#include <cstdint>

#include "update/catalogue_entry.h"

// The entry that option line `line` stands for (line k is entry k + 2).
// No line (-1, or none offered) gives entry 1, so no optional image qualifies.
int32_t ChosenEntry(int32_t line, int32_t lineCount);

// True when entry `index` of the table is to be programmed.
bool ImageNeeded(const CatalogueEntry& entry, int32_t index, int32_t chosenEntry);

// The indices of the entries to program, in table order; returns their count.
int32_t PlanImages(const CatalogueEntry* entries, int32_t count, int32_t chosenEntry,
                   int32_t (&plan)[MAX_CATALOGUE_ENTRIES]);

// The letter that tags an entry's progress: T, V, then C for every option.
char ImageLetter(int32_t index);
