#include "tools/ruvo-pack/release_record_posix.h"

#include <filesystem>
#include <sstream>

#include "common/quoted.h"
#include "common/utc_time.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/open_folder.h"
#include "tools/ruvo-pack/package_reader.h"
#include "tools/ruvo-pack/release.h"
#include "tools/ruvo-pack/server_folder_posix.h"
#include "tools/ruvo-pack/utf.h"
#include "update/catalogue.h"
#include "update/package.h"

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

// What pruning does with a name read back from the server folder: nothing,
// unless it is a Pool name; `source` is the file it came from.
bool CheckNameFrom(const std::string& name, const std::string& source, std::string* error)
{
    std::string reason;
    if (CheckPoolName(name, &reason)) return true;
    *error = Quoted(source) + " names \"" + EscapeForMessage(name) + "\", which is no Pool name (" + reason +
             "); ruvo-pack acts on no such name: correct or remove that file";
    return false;
}

// Pool names the catalogues of a Door folder name (read without following a
// link); a catalogue that does not pass names nothing the tool can rely on and
// is skipped, a Door that cannot be opened names nothing. False when a
// catalogue names something that is no Pool name.
bool NamesInDoor(const std::string& doorDir, std::set<std::string>* names, std::string* error)
{
    names->clear();
    COpenFolder door;
    std::string ignored;
    if (!door.Open(doorDir, &ignored)) return true;
    for (const std::string& model : ModelsIn(doorDir)) {
        Bytes stored, plain;
        if (!door.ReadFile(model + ".Bin", CATALOGUE_FILE_MAX, &stored, &ignored)) continue;
        if (CheckStoredPackage(PACKAGE_CATALOGUE, stored, model, &plain) != PACKAGE_OK) continue;
        CatalogueWalk walk;
        if (WalkCatalogue(plain.data(), plain.size(), &walk) != CATALOGUE_OK) continue;
        for (int32_t i = 0; i < walk.count; ++i) {
            if (!CheckNameFrom(walk.entries[i].name, door.PathOf(model + ".Bin"), error)) return false;
            names->insert(walk.entries[i].name);
        }
    }
    return true;
}

// A release without a readable release.txt names nothing. False when an
// "image" line holds something that is no Pool name; `info` then holds only
// what came before that line.
bool ReadReleaseInfo(const std::string& releaseDir, ReleaseInfo* info, std::string* error)
{
    *info = ReleaseInfo();
    const std::string path = (fs::path(releaseDir) / RELEASE_INFO).string();
    Bytes bytes;
    std::string ignored;
    if (!ReadWholeFile(path, MANIFEST_FILE_MAX, &bytes, &ignored)) return true;
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(lines, line)) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        const std::string key = line.substr(0, blank), value = line.substr(blank + 1);
        if (key == "published") info->published = value;
        if (key == "note") info->note = value;
        if (key == "content" && !ParseSerial(value, &info->content)) info->content = 0;
        if (key != "image") continue;
        if (!CheckNameFrom(value, path, error)) return false;
        info->images.insert(value);
    }
    return true;
}

// Before a publish writes anything: every name pruning may act on later
// (release.txt and Door catalogues of every release, and an old-layout Door
// folder) is a Pool name.
bool CheckRecordedNames(const Store& store, const std::vector<unsigned>& serials, std::string* error)
{
    ReleaseInfo info;
    std::set<std::string> names;
    for (unsigned serial : serials) {
        if (!ReadReleaseInfo(store.ReleaseDir(serial), &info, error)) return false;
        if (!NamesInDoor(store.ReleaseDoor(serial), &names, error)) return false;
    }
    return NamesInDoor(store.door, &names, error);
}

bool WriteReleaseInfo(const std::string& releaseDir, const std::string& doorDir, const std::string& note,
                      unsigned content, std::string* error)
{
    std::string text = "published " + UtcNow() + "\n";
    if (!note.empty()) text += "note " + note + "\n";
    if (content != 0) text += "content " + SerialName(content) + "\n";
    std::set<std::string> names;
    if (!NamesInDoor(doorDir, &names, error)) return false;
    for (const std::string& name : names) text += "image " + name + "\n";
    return WriteWholeFile((fs::path(releaseDir) / RELEASE_INFO).string(), Bytes(text.begin(), text.end()), error);
}

unsigned ContentOf(const Store& store, unsigned serial)
{
    ReleaseInfo info;
    std::string ignored;
    ReadReleaseInfo(store.ReleaseDir(serial), &info, &ignored);
    return info.content != 0 && info.content < serial ? info.content : serial;
}
