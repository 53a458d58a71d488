// COpenFolder on POSIX: openat, fstatat and unlinkat on the folder's descriptor.
#include "tools/ruvo-pack/open_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "common/quoted.h"
#include "common/system_message.h"
#include "tools/ruvo-pack/files.h"

namespace {

bool IsSingleEntry(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

COpenFolder::~COpenFolder()
{
    if (m_fd >= 0) close(m_fd);
}

bool COpenFolder::Open(const std::string& path, std::string* error)
{
    m_path = path;
    m_fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd >= 0) return true;
    const int code = errno;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        *error = Quoted(path) + " is a symbolic link; ruvo-pack works only in real folders of its server folder";
    } else {
        *error = "cannot open the folder " + Quoted(path) + ": " + SystemMessage(code);
    }
    return false;
}

std::string COpenFolder::PathOf(const std::string& name) const
{
    return m_path + "/" + name;
}

bool COpenFolder::List(std::vector<Entry>* entries, std::string* error) const
{
    entries->clear();
    // fdopendir takes over the descriptor it is given, so it gets a copy.
    const int copy = openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = copy >= 0 ? fdopendir(copy) : nullptr;
    if (!folder) {
        const int code = errno;
        if (copy >= 0) close(copy);
        *error = "cannot list " + Quoted(m_path) + ": " + SystemMessage(code);
        return false;
    }
    while (const dirent* item = readdir(folder)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        struct stat info;
        if (fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone since
        const bool regular = S_ISREG(info.st_mode);
        entries->push_back({name, regular, regular ? static_cast<uint64_t>(info.st_size) : 0});
    }
    closedir(folder);
    std::sort(entries->begin(), entries->end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

bool COpenFolder::ReadFile(const std::string& name, uint64_t cap, std::vector<uint8_t>* bytes, std::string* error) const
{
    const std::string path = PathOf(name);
    if (!IsSingleEntry(name)) {
        *error = Quoted(path) + " names no single entry of the folder";
        return false;
    }
    const int fd = openat(m_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        struct stat info;
        if (code == ELOOP && fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
            *error = Quoted(path) + " is a symbolic link, not a regular file; links are never followed";
        } else {
            *error = Quoted(path) + " cannot be opened: " + SystemMessage(code);
        }
        return false;
    }
    return ReadOpenedFile(fd, path, cap, bytes, error);
}

bool COpenFolder::RemoveFile(const std::string& name, std::string* error) const
{
    if (!IsSingleEntry(name)) {
        *error = Quoted(PathOf(name)) + " names no single entry of the folder; nothing removed";
        return false;
    }
    if (unlinkat(m_fd, name.c_str(), 0) != 0) {
        *error = "cannot remove " + Quoted(PathOf(name)) + ": " + SystemMessage(errno);
        return false;
    }
    return true;
}
