#pragma once
// What a release records of itself (release.txt) and the Pool names its
// catalogues name: pruning acts on these names only.
// Part of ruvo-pack's release store (release_store.h): POSIX only, for the
// symbolic links, rename over a link and file locks a live release needs.
#include <set>
#include <string>
#include <vector>

struct Store;

// release.txt: "published <time>", "note <text>", "content <serial>" (a
// refresh or a rollback: the release whose catalogues it serves again) and
// one "image <name>" per Pool name its catalogues name. Pruning trusts these
// lines, so only images a release of this tool named are ever removed.
struct ReleaseInfo {
    std::string published, note;
    unsigned content = 0;  // 0: its own
    std::set<std::string> images;
};

// What pruning does with a name read back from the server folder: nothing,
// unless it is a Pool name; `source` is the file it came from.
bool CheckNameFrom(const std::string& name, const std::string& source, std::string* error);

// Pool names the catalogues of a Door folder name (read without following a
// link); a catalogue that does not pass names nothing the tool can rely on and
// is skipped, a Door that cannot be opened names nothing. False when a
// catalogue names something that is no Pool name.
bool NamesInDoor(const std::string& doorDir, std::set<std::string>* names, std::string* error);

// A release without a readable release.txt names nothing. False when an
// "image" line holds something that is no Pool name; `info` then holds only
// what came before that line.
bool ReadReleaseInfo(const std::string& releaseDir, ReleaseInfo* info, std::string* error);

// Before a publish writes anything: every name pruning may act on later
// (release.txt and Door catalogues of every release, and an old-layout Door
// folder) is a Pool name.
bool CheckRecordedNames(const Store& store, const std::vector<unsigned>& serials, std::string* error);

// Writes release.txt into `releaseDir`: the time, the note and the content
// when there are, and the images the catalogues of `doorDir` name.
bool WriteReleaseInfo(const std::string& releaseDir, const std::string& doorDir, const std::string& note,
                      unsigned content, std::string* error);

// The release whose catalogues release `serial` serves: the one it was
// published as, through any refreshes and rollbacks since.
unsigned ContentOf(const Store& store, unsigned serial);
