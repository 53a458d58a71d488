// Walk of a checked catalogue package into the table and the option-list
// texts, and the rules that skip base images the device already carries.
#include "update/catalogue.h"

#include <cstring>

#include "common/bytes.h"
#include "update/device_info.h"
#include "update/package.h"
#include "update/result_text.h"

namespace {

constexpr ResultText CATALOGUE_RESULT_TEXTS[] = {
    {CATALOGUE_OK, "CATALOGUE_OK", "the catalogue records were read"},
    {CATALOGUE_NO_BUFFER, "CATALOGUE_NO_BUFFER", "there is no buffer, or it cannot hold a 32-byte header"},
    {CATALOGUE_BEYOND_BUFFER, "CATALOGUE_BEYOND_BUFFER", "the catalogue claims more bytes than the buffer holds"},
    {CATALOGUE_TOO_MANY_RECORDS, "CATALOGUE_TOO_MANY_RECORDS", "more than 8 records"},
    {CATALOGUE_NAME_TOO_LONG, "CATALOGUE_NAME_TOO_LONG", "a record name longer than 31 characters"},
    {CATALOGUE_BAD_SIZE, "CATALOGUE_BAD_SIZE",
     "a record size that cannot be an image package (negative, or above 32 bytes plus the 2 MiB flash)"},
    {CATALOGUE_DESCRIPTION_TOO_LONG, "CATALOGUE_DESCRIPTION_TOO_LONG",
     "a record description longer than 36 UTF-16 code units"},
    {CATALOGUE_TRUNCATED, "CATALOGUE_TRUNCATED",
     "a record or the closing 0 byte of the list runs past the end of the file"},
};

// Appends a NUL-terminated text to `line` at `*used`; the caller sized the
// line for the longest texts the walk lets through.
void AppendNarrow(char16_t* line, int* used, const char* text)
{
    // Names are single-byte text; each byte widens to the code unit of the same value.
    for (; *text != '\0'; ++text) line[(*used)++] = static_cast<char16_t>(static_cast<uint8_t>(*text));
}

void AppendWide(char16_t* line, int* used, const char16_t* text)
{
    for (; *text != u'\0'; ++text) line[(*used)++] = *text;
}

// " %S  [ %s ]" with the label (narrow, ends at its first NUL as %S would)
// and the description.
void FormatOptionLine(char16_t* line, const char* label, const char16_t* description)
{
    int used = 0;
    AppendNarrow(line, &used, " ");
    AppendNarrow(line, &used, label);
    AppendNarrow(line, &used, "  [ ");
    AppendWide(line, &used, description);
    AppendNarrow(line, &used, " ]");
    line[used] = u'\0';
}

// Reads one record at `*pos`; every read stays below `end` (the file's end).
int32_t ReadRecord(const uint8_t* package, size_t end, size_t* pos, CatalogueEntry* entry, char16_t* description)
{
    size_t at = *pos;

    size_t nameLength = 0;
    while (nameLength <= static_cast<size_t>(CATALOGUE_NAME_MAX) && at + nameLength < end &&
           package[at + nameLength] != 0) {
        ++nameLength;
    }
    if (nameLength > static_cast<size_t>(CATALOGUE_NAME_MAX)) return CATALOGUE_NAME_TOO_LONG;
    if (at + nameLength >= end) return CATALOGUE_TRUNCATED;
    std::memcpy(entry->name, package + at, nameLength);
    entry->name[nameLength] = '\0';
    at += nameLength + 1;

    if (end - at < 4) return CATALOGUE_TRUNCATED;
    const uint32_t size = ReadBigEndian32(package + at);
    at += 4;
    // Negative sizes as signed 32-bit are above the bound as unsigned.
    if (size > static_cast<uint32_t>(CATALOGUE_MAX_RECORD_SIZE)) return CATALOGUE_BAD_SIZE;
    entry->size = static_cast<int32_t>(size);

    int units = 0;
    for (;;) {
        if (end - at < 2) return CATALOGUE_TRUNCATED;
        const char16_t unit = static_cast<char16_t>(package[at] | (package[at + 1] << 8));  // low byte first
        at += 2;
        if (unit == u'\0') break;
        if (units == CATALOGUE_DESCRIPTION_MAX) return CATALOGUE_DESCRIPTION_TOO_LONG;
        description[units++] = unit;
    }
    description[units] = u'\0';

    *pos = at;
    return CATALOGUE_OK;
}

}  // namespace

const char* CatalogueResultName(int32_t code)
{
    const ResultText* text = FindResultText(CATALOGUE_RESULT_TEXTS, code);
    return text ? text->name : "CATALOGUE_UNKNOWN";
}

const char* CatalogueResultMeaning(int32_t code)
{
    const ResultText* text = FindResultText(CATALOGUE_RESULT_TEXTS, code);
    return text ? text->meaning : "not a catalogue walk result";
}

int32_t WalkCatalogue(const uint8_t* package, size_t capacity, CatalogueWalk* walk)
{
    *walk = CatalogueWalk{};
    if (package == nullptr || capacity < PACKAGE_HEADER_LENGTH) return CATALOGUE_NO_BUFFER;
    PackageHeader header;
    std::memcpy(&header, package, sizeof header);
    const size_t end = PackageTotalLength(header);
    // CheckPackage already ensures this; the walk stands on its own all the same.
    if (end > capacity) return CATALOGUE_BEYOND_BUFFER;

    // Built aside so that a refused catalogue leaves nothing half-filled behind.
    CatalogueWalk result{};
    size_t pos = PACKAGE_HEADER_LENGTH;
    for (;;) {
        // The 0 byte that ends the list belongs to the file.
        if (pos >= end) return CATALOGUE_TRUNCATED;
        if (package[pos] == 0) break;
        if (result.count == MAX_CATALOGUE_ENTRIES) return CATALOGUE_TOO_MANY_RECORDS;
        const int32_t i = result.count;
        const int32_t code = ReadRecord(package, end, &pos, &result.entries[i], result.descriptions[i]);
        if (code != CATALOGUE_OK) return code;
        ++result.count;
    }

    if (result.count >= 2) {
        std::memcpy(result.comparisonText, result.entries[1].name + 3, 3);
        result.comparisonText[3] = '\0';
    }
    // Character 5 of entry 0 is the low hex digit of the base version, as the
    // first character of the device's version text is the low digit of its own.
    for (int32_t i = 2; i < result.count; ++i) {
        const char label[5] = {result.entries[0].name[5], result.entries[i].name[3], result.entries[i].name[4],
                               result.entries[i].name[5], '\0'};
        FormatOptionLine(result.optionLines[i - 2], label, result.descriptions[i]);
        ++result.optionLineCount;
    }

    *walk = result;
    return CATALOGUE_OK;
}

int32_t BaseImageVersion(const char* name)
{
    return HexDigitValue(name[4]) * 16 + HexDigitValue(name[5]);
}

void ApplySkipRules(CatalogueEntry* table, int32_t count, const char* comparisonText, int32_t deviceVersion,
                    const char* deviceSecondVersion)
{
    if (BaseImageVersion(table[0].name) == deviceVersion) table[0].size = 0;
    if (count >= 2 && std::memcmp(comparisonText, deviceSecondVersion, 3) == 0) table[1].size = 0;
}
