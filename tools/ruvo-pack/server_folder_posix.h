#pragma once
// The server folder's layout: where releases lie, which one is live, and the
// one step that makes another live.
// Part of ruvo-pack's release store (release_store.h): POSIX only, for the
// symbolic links, rename over a link and file locks a live release needs.
#include <string>
#include <vector>

constexpr char RELEASE_INFO[] = "release.txt";

// The paths of one server folder.
struct Store {
    std::string outDir, lock, releases, brelm, door, pool;

    explicit Store(const std::string& root);
    std::string ReleaseDir(unsigned serial) const;
    std::string ReleaseDoor(unsigned serial) const;
};

std::string SerialName(unsigned serial);
bool ParseSerial(const std::string& text, unsigned* serial);

// The relative target of BRELM/Door for a release, so OUTDIR may be moved.
std::string LinkTarget(unsigned serial);

enum class DoorKind { NONE, LINK, FOLDER };

// What BRELM/Door is now; for a link, the serial of the release it serves.
int ReadLiveDoor(const Store& store, DoorKind* kind, unsigned* serial, std::string* error);

// Serials of the release folders, oldest first.
std::vector<unsigned> ReleaseSerials(const Store& store);

// The tool's temporary files, links and staged folders.
bool IsTemporary(const std::string& name);

// Regular files of a folder by name, skipping the tool's temporary files; a
// link is none, wherever it points.
std::vector<std::string> FilesIn(const std::string& folder);

// Models whose catalogue a Door folder holds: the stems of <model>.Bin.
std::vector<std::string> ModelsIn(const std::string& doorDir);

// Leftovers of a publish that was killed: temporary files, links and staged
// folders. Only called under the lock, when no other publish is at work.
void RemoveLeftovers(const Store& store);

// Makes release `serial` live: a new link under a temporary name renamed over
// BRELM/Door (exchanged with it when it is still a folder of the old layout).
bool SwapDoor(const Store& store, unsigned serial, bool exchangeFolder, std::string* error);

// Creates `path` and its parents; false (with the reason) when it is no folder after.
bool MakeFolder(const std::string& path, std::string* error);

// True when `path` is an existing folder.
bool IsFolder(const std::string& path, std::string* error);
