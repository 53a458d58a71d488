#include "tools/ruvo-pack/staged_release_posix.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "common/quoted.h"
#include "common/system_message.h"
#include "tools/ruvo-pack/exit_codes.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/open_folder.h"
#include "tools/ruvo-pack/release_record_posix.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t DOOR_FILE_MAX = IMAGE_PACKAGE_FILE_MAX;  // what a Door file carried forward may be

}  // namespace

CStagedRelease::~CStagedRelease()
{
    std::error_code code;
    if (!m_path.empty()) fs::remove_all(m_path, code);
}

bool CStagedRelease::Create(std::string* error)
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

std::string CStagedRelease::Door() const
{
    return (fs::path(m_path) / "Door").string();
}

bool CStagedRelease::CopyFrom(const std::string& from, const std::set<std::string>& skip, std::string* error)
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

bool CStagedRelease::WriteInfo(const std::string& note, unsigned content, std::string* error) const
{
    return WriteReleaseInfo(m_path, Door(), note, content, error);
}

bool CStagedRelease::Commit(unsigned serial, std::string* error)
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
    if (!staged.WriteInfo("migrated from the folder BRELM/Door", 0, error) || !staged.Commit(serial, error) ||
        !SwapDoor(store, serial, true, error)) {
        return PACK_EXIT_IO;
    }
    out << store.door << ": folder migrated into release " << SerialName(serial) << "\n";
    return PACK_EXIT_OK;
}
