#include "tools/ruvo-pack/server_folder_posix.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/quoted.h"
#include "common/system_message.h"
#include "tools/ruvo-pack/exit_codes.h"
#include "tools/ruvo-pack/files.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t SERIAL_DIGITS = 6;

}  // namespace

Store::Store(const std::string& root)
    : outDir(root),
      lock((fs::path(root) / ".lock").string()),
      releases((fs::path(root) / "releases").string()),
      brelm((fs::path(root) / "BRELM").string()),
      door((fs::path(root) / "BRELM" / "Door").string()),
      pool((fs::path(root) / "BRELM" / "Pool").string())
{
}

std::string Store::ReleaseDoor(unsigned serial) const
{
    return (fs::path(ReleaseDir(serial)) / "Door").string();
}

std::string SerialName(unsigned serial)
{
    std::string text = std::to_string(serial);
    if (text.size() < SERIAL_DIGITS) text.insert(0, SERIAL_DIGITS - text.size(), '0');
    return text;
}

std::string Store::ReleaseDir(unsigned serial) const
{
    return (fs::path(releases) / SerialName(serial)).string();
}

bool ParseSerial(const std::string& text, unsigned* serial)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *serial = static_cast<unsigned>(std::stoul(text));
    return true;
}

// The relative target of BRELM/Door for a release, so OUTDIR may be moved.
std::string LinkTarget(unsigned serial)
{
    return "../releases/" + SerialName(serial) + "/Door";
}

// What BRELM/Door is now; for a link, the serial of the release it serves.
int ReadLiveDoor(const Store& store, DoorKind* kind, unsigned* serial, std::string* error)
{
    struct stat info;
    if (lstat(store.door.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            *kind = DoorKind::NONE;
            return PACK_EXIT_OK;
        }
        *error = "cannot examine " + Quoted(store.door) + ": " + SystemMessage(errno);
        return PACK_EXIT_IO;
    }
    if (S_ISDIR(info.st_mode)) {
        *kind = DoorKind::FOLDER;
        return PACK_EXIT_OK;
    }
    if (S_ISLNK(info.st_mode)) {
        char target[512];
        const ssize_t length = readlink(store.door.c_str(), target, sizeof target - 1);
        if (length > 0) {
            const std::string text(target, static_cast<size_t>(length));
            const std::string prefix = "../releases/", suffix = "/Door";
            if (text.size() > prefix.size() + suffix.size() && text.compare(0, prefix.size(), prefix) == 0 &&
                text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                ParseSerial(text.substr(prefix.size(), text.size() - prefix.size() - suffix.size()), serial)) {
                *kind = DoorKind::LINK;
                return PACK_EXIT_OK;
            }
        }
    }
    *error = Quoted(store.door) + " is neither a release link made by ruvo-pack nor a folder; move it away first";
    return PACK_EXIT_IO;
}

// Serials of the release folders, oldest first.
std::vector<unsigned> ReleaseSerials(const Store& store)
{
    std::vector<unsigned> serials;
    std::error_code code;
    for (fs::directory_iterator it(store.releases, code), end; !code && it != end; it.increment(code)) {
        unsigned serial;
        if (ParseSerial(it->path().filename().string(), &serial) && it->is_directory(code)) serials.push_back(serial);
    }
    std::sort(serials.begin(), serials.end());
    return serials;
}

bool IsTemporary(const std::string& name)
{
    return name.rfind(TEMP_FILE_PREFIX, 0) == 0;
}

// Regular files of a folder by name, skipping the tool's temporary files; a
// link is none, wherever it points.
std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code code;
    for (fs::directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
        const std::string name = it->path().filename().string();
        if (IsTemporary(name)) continue;
        if (it->symlink_status(code).type() == fs::file_type::regular) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Models whose catalogue a Door folder holds: the stems of <model>.Bin.
std::vector<std::string> ModelsIn(const std::string& doorDir)
{
    std::vector<std::string> models;
    for (const std::string& name : FilesIn(doorDir)) {
        if (name.size() == 8 && name.compare(4, 4, ".Bin") == 0) models.push_back(name.substr(0, 4));
    }
    return models;
}

// Leftovers of a publish that was killed: temporary files, links and staged
// folders. Only called under the lock, when no other publish is at work.
void RemoveLeftovers(const Store& store)
{
    for (const std::string& folder : {store.releases, store.brelm, store.pool}) {
        std::error_code code;
        std::vector<fs::path> stale;
        for (fs::directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
            if (IsTemporary(it->path().filename().string())) stale.push_back(it->path());
        }
        for (const fs::path& path : stale) fs::remove_all(path, code);
    }
}

// Makes release `serial` live: a new link under a temporary name renamed over
// BRELM/Door (exchanged with it when it is still a folder of the old layout).
bool SwapDoor(const Store& store, unsigned serial, bool exchangeFolder, std::string* error)
{
    const std::string link = TempPathNextTo(store.door);
    if (symlink(LinkTarget(serial).c_str(), link.c_str()) != 0) {
        *error = "cannot create a link next to " + Quoted(store.door) + ": " + SystemMessage(errno);
        return false;
    }
    const int result = exchangeFolder ? renameat2(AT_FDCWD, link.c_str(), AT_FDCWD, store.door.c_str(), RENAME_EXCHANGE)
                                      : rename(link.c_str(), store.door.c_str());
    if (result != 0) {
        const int code = errno;
        unlink(link.c_str());
        *error = "cannot swap " + Quoted(store.door) + " to release " + SerialName(serial) + ": " + SystemMessage(code);
        return false;
    }
    if (exchangeFolder) {
        std::error_code code;
        fs::remove_all(link, code);  // now the old folder, its files kept in the migrated release
    }
    return SyncFolder(store.brelm, error);
}

bool MakeFolder(const std::string& path, std::string* error)
{
    std::error_code code;
    fs::create_directories(path, code);
    if (code || !fs::is_directory(path, code)) {
        *error = "cannot create folder " + Quoted(path) + (code ? ": " + code.message() : ": a file is in the way");
        return false;
    }
    return true;
}

bool IsFolder(const std::string& path, std::string* error)
{
    std::error_code code;
    if (fs::is_directory(path, code)) return true;
    *error = Quoted(path) + (fs::exists(path, code) ? " is not a folder" : " does not exist");
    return false;
}
