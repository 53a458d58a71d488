#pragma once
// Package files from the update server: the 32-byte header shared by catalogue
// and image packages, their de-obfuscation and the check every download passes
// before anything in it is used.
#include <cstddef>
#include <cstdint>

#include "device/flash_geometry.h"  // the pages and blocks an image header describes
#include "device/package_header.h"  // the header, its checks and data length, shared with the programming sequence

// Kinds, passed to CheckPackage as the mode.
constexpr int PACKAGE_CATALOGUE = 5;
constexpr int PACKAGE_IMAGE = 32;

constexpr uint32_t CATALOGUE_MAX_LENGTH = 2048;
constexpr uint32_t PACKAGE_KEY_LENGTH = 64;
constexpr char PACKAGE_MAGIC[8] = {'K', 'O', 'V', 'R', 'E', 'L', 'I', 'N'};

// Results of CheckPackage. The first eight are shown to users as numbers and
// keep their values; the table in package.cpp holds a name and meaning for each.
enum PackageResult : int32_t {
    PACKAGE_OK = 0,
    PACKAGE_NO_BUFFER = -1,
    PACKAGE_BAD_MAGIC = -2,
    PACKAGE_BAD_LENGTH = -3,
    PACKAGE_BAD_XOR = -4,
    PACKAGE_BAD_SUM = -5,
    PACKAGE_TOO_LARGE = -6,
    PACKAGE_BAD_ID = -7,
    PACKAGE_BEYOND_BUFFER = -8,
    PACKAGE_BAD_LAYOUT = -9,
    PACKAGE_BAD_MODE = -10,
};

// Name ("PACKAGE_BAD_XOR") and one-line meaning of a result; unknown codes
// give "PACKAGE_UNKNOWN" and a meaning that says so.
const char* PackageResultName(int32_t code);
const char* PackageResultMeaning(int32_t code);

// Key base of an id: 3 x the sum of its first four characters, modulo 64.
uint32_t PackageKeyBase(const char* id);

// XORs the obfuscated range of a package with the key, starting at key base
// `keyBase`: offsets 8 .. length-1 for a catalogue, 8 .. 31 for an image;
// nothing at or past `length` is touched. XOR undoes itself, so this both
// hides a plain package and reveals a stored one. Unknown modes change nothing.
void ObfuscatePackageAt(int mode, uint8_t* package, size_t length, uint32_t keyBase);
void ObfuscatePackage(int mode, uint8_t* package, size_t length, const char* id);

// De-obfuscates a downloaded package in place and validates it.
//   mode     PACKAGE_CATALOGUE or PACKAGE_IMAGE
//   buffer   the download; may be null
//   length   bytes received, as DownloadFile returned them (-1 arrives as 4294967295)
//   id       at least four characters; the first four must match the header
//   capacity real size of `buffer` in bytes; nothing at or past it is touched
// Returns PACKAGE_OK or a negative PackageResult. Once past the size limit the
// buffer holds the de-obfuscated bytes, whether the check then passes or not.
int32_t CheckPackage(int mode, uint8_t* buffer, uint32_t length, const char* id, size_t capacity);
