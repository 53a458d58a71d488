// Publishing, listing and rolling back releases in a server folder.
#include "tools/ruvo-pack/release_store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "tools/ruvo-pack/exit_codes.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/package_reader.h"
#include "tools/ruvo-pack/release.h"
#include "tools/ruvo-pack/release_check.h"
#include "tools/ruvo-pack/utf.h"
#include "update/catalogue.h"
#include "update/package.h"

#ifndef _WIN32
#include "tools/ruvo-pack/open_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

#ifdef _WIN32

namespace {

const char NO_LAYOUT[] =
    "publish, releases and rollback need symbolic links and file locks of a POSIX server folder; "
    "run them with the Linux build of ruvo-pack (image, catalogue, verify and inspect work here)";

}  // namespace

int PublishRelease(const std::string&, const PublishInput&, const PublishOptions&, std::ostream&, std::string* error)
{
    *error = NO_LAYOUT;
    return PACK_EXIT_IO;
}

int ListReleases(const std::string&, std::ostream&, std::string* error)
{
    *error = NO_LAYOUT;
    return PACK_EXIT_IO;
}

int RollbackRelease(const std::string&, const ReleaseTrust&, std::ostream&, std::string* error)
{
    *error = NO_LAYOUT;
    return PACK_EXIT_IO;
}

#else

namespace {

using Bytes = std::vector<uint8_t>;

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

constexpr char RELEASE_INFO[] = "release.txt";
constexpr size_t SERIAL_DIGITS = 6;
constexpr uint64_t DOOR_FILE_MAX = IMAGE_PACKAGE_FILE_MAX;  // what a Door file carried forward may be

std::string SystemMessage(int code)
{
    return std::generic_category().message(code);
}

struct Store {
    std::string outDir, lock, releases, brelm, door, pool;

    explicit Store(const std::string& root)
        : outDir(root),
          lock((fs::path(root) / ".lock").string()),
          releases((fs::path(root) / "releases").string()),
          brelm((fs::path(root) / "BRELM").string()),
          door((fs::path(root) / "BRELM" / "Door").string()),
          pool((fs::path(root) / "BRELM" / "Pool").string())
    {
    }
    std::string ReleaseDir(unsigned serial) const;
    std::string ReleaseDoor(unsigned serial) const { return (fs::path(ReleaseDir(serial)) / "Door").string(); }
};

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

// Holds OUTDIR/.lock for the lifetime of the object.
class CPublishLock {
public:
    ~CPublishLock()
    {
        if (m_fd >= 0) close(m_fd);
    }
    int Acquire(const std::string& path, std::string* error)
    {
        m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (m_fd < 0) {
            *error = "cannot open the lock file " + Quoted(path) + ": " + SystemMessage(errno);
            return PACK_EXIT_IO;
        }
        if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            if (code == EWOULDBLOCK) {
                *error = "another publish holds " + path;
                return PACK_EXIT_LOCKED;
            }
            *error = "cannot lock " + Quoted(path) + ": " + SystemMessage(code);
            return PACK_EXIT_IO;
        }
        return PACK_EXIT_OK;
    }

private:
    int m_fd = -1;
};

enum class DoorKind { NONE, LINK, FOLDER };

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

// release.txt: "published <time>", "note <text>" and one "image <name>" per
// Pool name its catalogues name. Pruning trusts these lines, so only images
// a release of this tool named are ever removed.
struct ReleaseInfo {
    std::string published, note;
    std::set<std::string> images;
};

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

std::string UtcNow()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
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

// A staged release folder under releases/, removed again unless Commit()ed.
class CStagedRelease {
public:
    explicit CStagedRelease(const Store& store) : m_store(store) {}
    ~CStagedRelease()
    {
        std::error_code code;
        if (!m_path.empty()) fs::remove_all(m_path, code);
    }
    bool Create(std::string* error)
    {
        std::string pattern = (fs::path(m_store.releases) / (std::string(TEMP_FILE_PREFIX) + "stage-XXXXXX")).string();
        if (mkdtemp(&pattern[0]) == nullptr) {
            *error = "cannot create a staging folder in " + Quoted(m_store.releases) + ": " + SystemMessage(errno);
            return false;
        }
        m_path = pattern;
        // mkdtemp makes the folder private; the web server must read it.
        if (chmod(m_path.c_str(), 0755) != 0) {
            *error = "cannot open up " + Quoted(m_path) + " for reading: " + SystemMessage(errno);
            return false;
        }
        if (mkdir(Door().c_str(), 0755) != 0) {
            *error = "cannot create " + Quoted(Door()) + ": " + SystemMessage(errno);
            return false;
        }
        return true;
    }
    std::string Door() const { return (fs::path(m_path) / "Door").string(); }
    std::string Path() const { return m_path; }

    // Copies the files of the Door `from` except those named in `skip`. A
    // Door holds regular files only: anything else (a link, a folder, a FIFO)
    // is refused rather than copied or silently dropped, and no link is
    // followed, the folder itself included: a copy of what a link points to
    // would be served to everyone.
    bool CopyFrom(const std::string& from, const std::set<std::string>& skip, std::string* error)
    {
        COpenFolder source;
        std::vector<COpenFolder::Entry> entries;
        if (!source.Open(from, error) || !source.List(&entries, error)) return false;
        for (const COpenFolder::Entry& entry : entries) {
            if (IsTemporary(entry.name) || skip.count(entry.name)) continue;
            if (!entry.regular) {
                *error = Quoted(source.PathOf(entry.name)) +
                         " is not a regular file (a symbolic link, a folder or a device), and a Door holds regular "
                         "files only: nothing was copied through it; replace it with the file itself or remove it";
                return false;
            }
            Bytes bytes;  // an empty file (a marker a person left) is carried as is
            if (entry.size != 0 && !source.ReadFile(entry.name, DOOR_FILE_MAX, &bytes, error)) return false;
            if (!WriteWholeFile((fs::path(Door()) / entry.name).string(), bytes, error)) return false;
        }
        return true;
    }

    bool WriteInfo(const std::string& note, std::string* error) const
    {
        std::string text = "published " + UtcNow() + "\n";
        if (!note.empty()) text += "note " + note + "\n";
        std::set<std::string> names;
        if (!NamesInDoor(Door(), &names, error)) return false;
        for (const std::string& name : names) text += "image " + name + "\n";
        return WriteWholeFile((fs::path(m_path) / RELEASE_INFO).string(), Bytes(text.begin(), text.end()), error);
    }

    // Renames the staged folder to releases/<serial>.
    bool Commit(unsigned serial, std::string* error)
    {
        std::string ignored;
        if (!SyncFolder(Door(), error) || !SyncFolder(m_path, error)) return false;
        const std::string target = m_store.ReleaseDir(serial);
        if (rename(m_path.c_str(), target.c_str()) != 0) {
            *error = "cannot rename the staged release to " + Quoted(target) + ": " + SystemMessage(errno);
            return false;
        }
        m_path.clear();
        return SyncFolder(m_store.releases, error);
    }

private:
    const Store& m_store;
    std::string m_path;
};

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

// BRELM/Door as a folder (the layout before releases): its files become a
// release of their own, which then goes live in one exchange, so a rollback
// can return to them. An empty folder is simply removed.
int MigrateDoorFolder(const Store& store, unsigned serial, std::ostream& out, std::string* error)
{
    if (FilesIn(store.door).empty()) {
        std::error_code code;
        if (!fs::remove(store.door, code)) {
            *error = Quoted(store.door) + " is a folder that holds no files but cannot be removed: " +
                     (code ? code.message() : "it holds other entries") + "; move it away first";
            return PACK_EXIT_IO;
        }
        return PACK_EXIT_OK;
    }
    CStagedRelease staged(store);
    if (!staged.Create(error) || !staged.CopyFrom(store.door, {}, error)) return PACK_EXIT_IO;
    if (!staged.WriteInfo("migrated from the folder BRELM/Door", error) || !staged.Commit(serial, error) ||
        !SwapDoor(store, serial, true, error)) {
        return PACK_EXIT_IO;
    }
    out << store.door << ": folder migrated into release " << SerialName(serial) << "\n";
    return PACK_EXIT_OK;
}

// Writes the release's images into Pool/: a name that exists with the same
// bytes is left alone, one with other bytes is refused unless `replace`.
// `created` receives the names this call added, so a failed publish can
// take them back.
int WritePoolImages(const Store& store, const PublishInput& input, const PublishOptions& options,
                    const std::vector<unsigned>& serials, std::ostream& out, std::vector<std::string>* created,
                    std::string* error)
{
    std::vector<bool> present(input.images.size(), false);
    std::string conflicts;
    for (size_t i = 0; i < input.images.size(); ++i) {
        const PublishedImage& image = input.images[i];
        const std::string path = (fs::path(store.pool) / image.name).string();
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) continue;
            *error = "cannot examine " + Quoted(path) + ": " + SystemMessage(errno);
            return PACK_EXIT_IO;
        }
        Bytes existing;
        if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) == image.package.size() &&
            ReadWholeFile(path, IMAGE_PACKAGE_FILE_MAX, &existing, error) && existing == image.package) {
            present[i] = true;
            continue;
        }
        if (!S_ISREG(info.st_mode)) {
            *error = Quoted(path) + " exists and is not a regular file";
            return PACK_EXIT_IO;
        }
        std::string namedBy;
        for (unsigned serial : serials) {
            ReleaseInfo info;
            std::string ignored;  // the names were checked before anything was written
            ReadReleaseInfo(store.ReleaseDir(serial), &info, &ignored);
            if (info.images.count(image.name)) {
                namedBy += (namedBy.empty() ? "" : ", ") + SerialName(serial);
            }
        }
        conflicts += "\n  " + path + " (" + std::to_string(info.st_size) + " bytes" +
                     (namedBy.empty() ? "" : ", named by release " + namedBy) + ")";
    }
    if (!conflicts.empty()) {
        if (!options.replace) {
            *error = "these image names exist with other bytes, and a published image is never rewritten:" + conflicts +
                     "\ngive the new images new names, or give --replace (a device that read the live catalogue "
                     "fetches the new bytes under the old record and refuses them, and every release naming them "
                     "fails the check)";
            return PACK_EXIT_BAD_INPUT;
        }
        out << "replacing (--replace): devices that read the live catalogue refuse these now, and older releases "
               "naming them no longer pass the check:"
            << conflicts << "\n";
    }
    for (size_t i = 0; i < input.images.size(); ++i) {
        const PublishedImage& image = input.images[i];
        const std::string path = (fs::path(store.pool) / image.name).string();
        if (present[i]) {
            out << path << ": image \"" << PackageIdOfName(image.name) << "\", " << image.package.size()
                << " bytes, unchanged\n";
            continue;
        }
        std::error_code code;
        const bool existed = fs::symlink_status(path, code).type() != fs::file_type::not_found;
        if (!WriteWholeFile(path, image.package, error)) return PACK_EXIT_IO;
        if (!existed) created->push_back(image.name);
        out << path << ": image \"" << PackageIdOfName(image.name) << "\", " << image.package.size() << " bytes\n";
    }
    return PACK_EXIT_OK;
}

// After a swap: drops all but the newest `keep` releases (never the live
// one), then the Pool images only dropped releases named. Images are removed
// in the open Pool folder by name, never through a path; when a recorded name
// is no Pool name nothing is pruned, and the line says why.
void PruneReleases(const Store& store, const COpenFolder& pool, unsigned live, unsigned keep, std::ostream& out)
{
    const std::vector<unsigned> serials = ReleaseSerials(store);
    std::vector<unsigned> dropped, kept;
    for (size_t i = 0; i < serials.size(); ++i) {
        const bool newest = serials.size() - i <= keep;
        (newest || serials[i] == live ? kept : dropped).push_back(serials[i]);
    }
    if (dropped.empty()) return;
    std::set<std::string> candidates, named, inDoor;
    std::string error;
    ReleaseInfo info;
    for (unsigned serial : dropped) {
        if (!ReadReleaseInfo(store.ReleaseDir(serial), &info, &error)) break;
        candidates.insert(info.images.begin(), info.images.end());
    }
    for (size_t i = 0; error.empty() && i < kept.size(); ++i) {
        if (!ReadReleaseInfo(store.ReleaseDir(kept[i]), &info, &error)) break;
        named.insert(info.images.begin(), info.images.end());
        if (!NamesInDoor(store.ReleaseDoor(kept[i]), &inDoor, &error)) break;
        named.insert(inDoor.begin(), inDoor.end());
    }
    if (!error.empty()) {
        out << "nothing pruned: " << error << "\n";
        return;
    }
    // Images first: a release folder whose images are gone is still listed
    // and pruned again next time, an image no release lists would stay forever.
    for (const std::string& name : candidates) {
        if (named.count(name)) continue;
        if (pool.RemoveFile(name, &error)) out << pool.PathOf(name) << ": removed (no kept release names it)\n";
    }
    for (unsigned serial : dropped) {
        std::error_code code;
        fs::remove_all(store.ReleaseDir(serial), code);
        if (!code) out << store.ReleaseDir(serial) << ": removed (keeping " << keep << ")\n";
    }
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

// A publish without a statement of its model over a live release with one
// would silently unsign the model: refused (exit 3) unless --unsigned.
int CheckStaysSigned(const Store& store, const PublishInput& input, const ReleaseTrust& trust, std::ostream& out,
                     std::string* error)
{
    const std::string statement = input.model + ".Sig";
    for (const auto& file : input.doorFiles) {
        if (file.first == statement) return PACK_EXIT_OK;
    }
    std::error_code code;
    const std::string live = (fs::path(store.door) / statement).string();
    if (fs::symlink_status(live, code).type() == fs::file_type::not_found) return PACK_EXIT_OK;
    if (!trust.allowUnsigned) {
        *error = "the live release of model " + input.model + " is signed (" + live +
                 ") and this publish is not: signed updaters would refuse it; sign it with --sign KEY.pem, or give "
                 "--unsigned to publish it unsigned anyway; nothing was written";
        return PACK_EXIT_BAD_INPUT;
    }
    out << "--unsigned: the live release of model " << input.model
        << " is signed, this one is not; signed updaters refuse it\n";
    return PACK_EXIT_OK;
}

// Removes the Pool files a failed publish added.
void TakeBack(const COpenFolder& pool, const std::vector<std::string>& created)
{
    std::string ignored;
    for (const std::string& name : created) pool.RemoveFile(name, &ignored);
}

}  // namespace

int PublishRelease(const std::string& outDir, const PublishInput& input, const PublishOptions& options,
                   std::ostream& out, std::string* error)
{
    const Store store(outDir);
    if (!MakeFolder(store.outDir, error)) return PACK_EXIT_IO;
    CPublishLock lock;
    const int locked = lock.Acquire(store.lock, error);
    if (locked != PACK_EXIT_OK) return locked;
    if (!MakeFolder(store.pool, error) || !MakeFolder(store.releases, error)) return PACK_EXIT_IO;
    COpenFolder pool;
    if (!pool.Open(store.pool, error)) return PACK_EXIT_IO;
    RemoveLeftovers(store);

    DoorKind kind;
    unsigned live = 0;
    int result = ReadLiveDoor(store, &kind, &live, error);
    if (result != PACK_EXIT_OK) return result;
    std::vector<unsigned> serials = ReleaseSerials(store);
    if (!CheckRecordedNames(store, serials, error)) {
        *error += "; nothing was written";
        return PACK_EXIT_BAD_INPUT;
    }
    result = CheckStaysSigned(store, input, options.trust, out, error);
    if (result != PACK_EXIT_OK) return result;
    unsigned next = serials.empty() ? 1 : serials.back() + 1;
    if (kind == DoorKind::FOLDER) {
        result = MigrateDoorFolder(store, next, out, error);
        if (result != PACK_EXIT_OK) return result;
        std::error_code code;
        if (fs::is_symlink(store.door, code)) {
            kind = DoorKind::LINK;
            live = next++;
            serials.push_back(live);
        } else {
            kind = DoorKind::NONE;
        }
    }

    std::vector<std::string> created;
    result = WritePoolImages(store, input, options, serials, out, &created, error);
    if (result != PACK_EXIT_OK) {
        TakeBack(pool, created);
        return result;
    }

    // The new release: the live Door's other files carried forward (other
    // models, extra files), this model's catalogue new. A statement of the
    // old catalogue would not fit the new one, so it is not carried.
    const std::string catalogueName = input.model + ".Bin";
    std::set<std::string> replaced = {catalogueName, input.model + ".Sig"};
    for (const auto& file : input.doorFiles) replaced.insert(file.first);
    CStagedRelease staged(store);
    bool staging = staged.Create(error) &&
                   (kind != DoorKind::LINK || staged.CopyFrom(store.ReleaseDoor(live), replaced, error)) &&
                   WriteWholeFile((fs::path(staged.Door()) / catalogueName).string(), input.catalogue, error);
    for (size_t i = 0; staging && i < input.doorFiles.size(); ++i) {
        const auto& file = input.doorFiles[i];
        staging = WriteWholeFile((fs::path(staged.Door()) / file.first).string(), file.second, error);
    }
    if (!staging) {
        TakeBack(pool, created);
        return PACK_EXIT_IO;
    }
    if (!CheckStagedRelease(staged.Door(), store.pool, options.trust.keys, error)) {
        *error = "the staged release fails the updater's check, nothing was made live: " + *error;
        TakeBack(pool, created);
        return PACK_EXIT_REFUSED;
    }
    if (!staged.WriteInfo("", error) || !staged.Commit(next, error) || !SwapDoor(store, next, false, error)) {
        std::error_code code;
        if (!fs::equivalent(store.door, store.ReleaseDoor(next), code)) {
            fs::remove_all(store.ReleaseDir(next), code);
            TakeBack(pool, created);
        }
        return PACK_EXIT_IO;
    }
    const std::string cataloguePath = (fs::path(store.door) / catalogueName).string();
    out << cataloguePath << ": catalogue \"" << input.model << "\", " << input.catalogue.size() << " bytes\n";
    out << store.door << " -> " << LinkTarget(next) << ": release " << SerialName(next) << " is live\n";
    PruneReleases(store, pool, next, std::max(options.keep, 1u), out);
    return PACK_EXIT_OK;
}

int ListReleases(const std::string& outDir, std::ostream& out, std::string* error)
{
    const Store store(outDir);
    if (!IsFolder(store.outDir, error)) return PACK_EXIT_IO;
    DoorKind kind;
    unsigned live = 0;
    const int result = ReadLiveDoor(store, &kind, &live, error);
    if (result != PACK_EXIT_OK) return result;
    const std::vector<unsigned> serials = ReleaseSerials(store);
    if (kind == DoorKind::FOLDER) out << store.door << " is a folder of the layout before releases\n";
    if (serials.empty()) {
        out << "no releases in " << store.releases << "\n";
        return PACK_EXIT_OK;
    }
    for (unsigned serial : serials) {
        ReleaseInfo info;
        std::string refused;
        ReadReleaseInfo(store.ReleaseDir(serial), &info, &refused);
        std::string models;
        for (const std::string& model : ModelsIn(store.ReleaseDoor(serial)))
            models += (models.empty() ? "" : ",") + model;
        out << (kind == DoorKind::LINK && serial == live ? "* " : "  ") << SerialName(serial) << "  "
            << (info.published.empty() ? "?" : info.published) << "  " << (models.empty() ? "-" : models) << "  "
            << info.images.size() << " images";
        if (!info.note.empty()) out << "  (" << info.note << ")";
        if (!refused.empty()) out << "  refused: " << refused;
        out << "\n";
    }
    return PACK_EXIT_OK;
}

int RollbackRelease(const std::string& outDir, const ReleaseTrust& trust, std::ostream& out, std::string* error)
{
    const Store store(outDir);
    if (!IsFolder(store.outDir, error)) return PACK_EXIT_IO;
    CPublishLock lock;
    const int locked = lock.Acquire(store.lock, error);
    if (locked != PACK_EXIT_OK) return locked;
    DoorKind kind;
    unsigned live = 0;
    const int result = ReadLiveDoor(store, &kind, &live, error);
    if (result != PACK_EXIT_OK) return result;
    if (kind != DoorKind::LINK) {
        *error = Quoted(store.door) + " serves no release of ruvo-pack; nothing to roll back";
        return PACK_EXIT_BAD_INPUT;
    }
    unsigned previous = 0;
    for (unsigned serial : ReleaseSerials(store)) {
        if (serial < live) previous = serial;
    }
    if (previous == 0) {
        *error = "release " + SerialName(live) + " is the oldest kept release; there is none to roll back to";
        return PACK_EXIT_BAD_INPUT;
    }
    const std::string door = store.ReleaseDoor(previous);
    std::string dropped;
    const std::vector<std::string> kept = SignedModelsIn(door);
    for (const std::string& model : SignedModelsIn(store.ReleaseDoor(live))) {
        if (!std::binary_search(kept.begin(), kept.end(), model)) dropped += (dropped.empty() ? "" : ", ") + model;
    }
    if (!dropped.empty() && !trust.allowUnsigned) {
        *error = "release " + SerialName(previous) + " has no statement of model " + dropped +
                 ", whose live release is signed: signed updaters would refuse it; give --unsigned to roll back anyway";
        return PACK_EXIT_BAD_INPUT;
    }
    if (!dropped.empty()) out << "--unsigned: model " << dropped << " goes live unsigned; signed updaters refuse it\n";
    if (!CheckStagedRelease(door, store.pool, trust.keys, error)) {
        *error = "release " + SerialName(previous) + " fails the updater's check, it stays offline: " + *error;
        return PACK_EXIT_REFUSED;
    }
    if (!SwapDoor(store, previous, false, error)) return PACK_EXIT_IO;
    out << store.door << " -> " << LinkTarget(previous) << ": release " << SerialName(previous)
        << " is live again (was " << SerialName(live) << ")\n";
    return PACK_EXIT_OK;
}

#endif
