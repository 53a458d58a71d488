#pragma once
// Whole-file reads and writes for the tool (narrow paths). A read accepts only
// a regular, non-empty file up to a cap; a write never leaves a half-written
// target: it goes to a temporary file in the same folder, is flushed and then
// renamed over the target.
#include <cstdint>
#include <string>
#include <vector>

// Caps of what the tool reads. An image package holds a 32-byte header and
// at most the 2 MiB of flash; a catalogue is at most what the updater's
// buffer takes.
constexpr uint64_t IMAGE_PACKAGE_FILE_MAX = 32 + 2 * 1024 * 1024;
constexpr uint64_t CATALOGUE_FILE_MAX = 2048;
constexpr uint64_t MANIFEST_FILE_MAX = 64 * 1024;
constexpr uint64_t FIRMWARE_FILE_MAX = 2 * 1024 * 1024;
constexpr uint64_t KEY_FILE_MAX = 64 * 1024;  // a PEM key is a few hundred bytes

// Every temporary file the tool makes starts with this; '~' is outside the
// characters of a record name, so it never shadows a published file.
extern const char TEMP_FILE_PREFIX[];

// Reads `path` whole. Refuses (with a message naming the file and what it
// is) a missing or unreadable file, a folder, a FIFO or other non-regular
// file, an empty file and one larger than `cap` bytes. A FIFO is never
// opened for a blocking read.
bool ReadWholeFile(const std::string& path, uint64_t cap, std::vector<uint8_t>* bytes, std::string* error);

// ReadWholeFile's refusals and reading for a file the caller opened itself
// (read-only, without blocking on a FIFO); `path` names it in messages.
// Always closes `fd`.
bool ReadOpenedFile(int fd, const std::string& path, uint64_t cap, std::vector<uint8_t>* bytes, std::string* error);

// Writes `bytes` to `path` atomically; creates missing parent folders. On
// any failure the old file (if any) is as it was and no temporary file is left.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

// Flushes a folder's entries (after a rename into it). No-op where folders
// cannot be opened.
bool SyncFolder(const std::string& path, std::string* error);

// A name for a temporary file or link next to `target`, unique within this
// process and across processes.
std::string TempPathNextTo(const std::string& target);
