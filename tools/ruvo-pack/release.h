#pragma once
// A release: one model's catalogue and its image packages, described by a
// small line-based manifest (format in README.md), and the naming rules the
// updater relies on.
#include <cstdint>
#include <string>
#include <vector>

struct ReleaseImage {
    std::string name;            // catalogue record name = file name under Pool/
    uint32_t firstBlock;         // first 4096-byte flash block of the image
    std::string firmwarePath;    // resolved against the manifest's folder
    std::u16string description;  // shown in the updater's option list
    int line;                    // manifest line, for messages
};

struct Release {
    std::string model;  // 4 characters: catalogue file Door/<model>.Bin and its package id
    uint8_t status = 2;
    std::vector<ReleaseImage> images;  // in catalogue order: two base images first
};

// Parses manifest text; `baseDir` is prepended to relative firmware paths.
// On error, `error` reads "<line>: <message>" where a line is at fault.
bool ParseManifest(const std::string& text, const std::string& baseDir, Release* release, std::string* error);

// Model and image ids name files and are package ids: exactly four
// characters from the safe set (letters, digits, '.', '_', '-'). `what`
// names the id in the message ("model id", "image id").
bool CheckPackageIdText(const std::string& id, const std::string& what, std::string* error);

// A name that becomes a file under Pool/ (a record name, or a name read back
// from a Door catalogue or release.txt before the tool acts on it): 6 to 31
// characters from the safe set, no leading '.' and no "..", so that it is one
// plain entry of Pool/ and never a path, a hidden file or the tool's own.
bool CheckPoolName(const std::string& name, std::string* error);

// Record names, in catalogue order, against the updater's rules: each passes
// CheckPoolName, no two alike (also ignoring case), at most 8;
// characters 2-5 are the image's package id (so they must exist); characters
// 4-5 of entry 0 are its version in hex. Entry 1's characters 3-5 are its
// second version: any safe characters.
bool CheckRecordNames(const std::vector<std::string>& names, std::string* error);

// The image package id a record name implies: its characters 2 to 5.
std::string PackageIdOfName(const std::string& name);

// Description from UTF-8: valid, no control characters, at most 36 UTF-16 code units.
bool DescriptionFromUtf8(const std::string& utf8, std::u16string* description, std::string* error);
