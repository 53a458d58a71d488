#include "update/image_plan.h"

int32_t ChosenEntry(int32_t line, int32_t lineCount)
{
    return line >= 0 && line < lineCount ? line + 2 : 1;
}

bool ImageNeeded(const CatalogueEntry& entry, int32_t index, int32_t chosenEntry)
{
    return entry.size != 0 && (index < 2 || index == chosenEntry);
}

int32_t PlanImages(const CatalogueEntry* entries, int32_t count, int32_t chosenEntry,
                   int32_t (&plan)[MAX_CATALOGUE_ENTRIES])
{
    int32_t planned = 0;
    for (int32_t i = 0; i < count && i < MAX_CATALOGUE_ENTRIES; ++i)
        if (ImageNeeded(entries[i], i, chosenEntry)) plan[planned++] = i;
    return planned;
}

char ImageLetter(int32_t index)
{
    return index == 0 ? 'T' : index == 1 ? 'V' : 'C';
}
