#pragma once
// Catalogue table shared by identification (fills it) and the update (reads it).
#include <cstddef>
#include <cstdint>

#include "device/flash_geometry.h"
#include "update/catalogue_entry.h"

// Catalogue status byte (header byte 10) that lets identification go on;
// 0 and 1 mean a stale server, 3 and above a newer updater.
constexpr uint8_t CATALOGUE_STATUS_CURRENT = 2;

constexpr int CATALOGUE_NAME_MAX = 31;         // characters, without the 0 byte
constexpr int CATALOGUE_DESCRIPTION_MAX = 36;  // UTF-16 code units, without the 0
// " %S  [ %s ]": one blank, the 4-character label, "  [ ", the description, " ]".
constexpr int OPTION_LINE_EXTRA = 11;
constexpr int OPTION_LINE_LENGTH = CATALOGUE_DESCRIPTION_MAX + OPTION_LINE_EXTRA + 1;  // 48 with the NUL
constexpr int MAX_OPTION_LINES = MAX_CATALOGUE_ENTRIES - 2;                            // line k stands for entry k + 2

// Largest image package a record may announce: the 32-byte header plus the
// whole flash (2 MiB). Larger sizes cannot be a real image, and the update
// allocates size + 128 bytes for the download.
constexpr int32_t CATALOGUE_MAX_RECORD_SIZE = static_cast<int32_t>(32 + FLASH_SIZE);

// Refusals of the walk. They share the error box "錯誤碼: 0302 %2d" with the
// package check, so they stay two digits and apart from its codes.
enum CatalogueResult : int32_t {
    CATALOGUE_OK = 0,
    CATALOGUE_NO_BUFFER = -20,
    CATALOGUE_BEYOND_BUFFER = -21,
    CATALOGUE_TOO_MANY_RECORDS = -22,
    CATALOGUE_NAME_TOO_LONG = -23,
    CATALOGUE_BAD_SIZE = -24,
    CATALOGUE_DESCRIPTION_TOO_LONG = -25,
    CATALOGUE_TRUNCATED = -26,
};

const char* CatalogueResultName(int32_t code);
const char* CatalogueResultMeaning(int32_t code);

// Everything identification takes from a catalogue: the table, the texts for
// the option list and entry 1's comparison text. Texts are UTF-16 (char16_t
// here; the Windows caller reads them as wchar_t).
struct CatalogueWalk {
    CatalogueEntry entries[MAX_CATALOGUE_ENTRIES];
    int32_t count;
    char16_t descriptions[MAX_CATALOGUE_ENTRIES][CATALOGUE_DESCRIPTION_MAX + 1];
    char16_t optionLines[MAX_OPTION_LINES][OPTION_LINE_LENGTH];
    int32_t optionLineCount;
    char comparisonText[4];  // characters 3, 4, 5 of entry 1's name, NUL-terminated
};

// Reads the records of a checked catalogue package (CheckPackage returned
// PACKAGE_OK and the caller found status 2) into `walk`. The whole file is
// `package`[0 .. totalLength-1]; `capacity` is the buffer's real size.
// A catalogue that breaks a limit is refused as a whole, never cut: on any
// result but CATALOGUE_OK, `walk` is left empty (count 0, no lines).
int32_t WalkCatalogue(const uint8_t* package, size_t capacity, CatalogueWalk* walk);

// The version base image 0 carries: its name's characters 4-5 read as hex
// (a character that is not a hex digit reads as 0).
int32_t BaseImageVersion(const char* name);

// Marks the base images the device already carries as not to be programmed:
// entry 0 when its characters 4-5, read as hex, equal the device version;
// entry 1 (only with two or more records) when the comparison text equals the
// device's second version in all three characters. Lines are not affected.
void ApplySkipRules(CatalogueEntry* table, int32_t count, const char* comparisonText, int32_t deviceVersion,
                    const char* deviceSecondVersion);
