#include "update/release_history_folder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Makes the folder and the parents it lacks, private to the user.
bool MakeFolders(const std::string& folder)
{
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat info;
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteWhole(int fd, const char* text, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        text += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

HistoryRead CFolderHistory::Read(const char* name, AcceptedRelease* release)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *release = AcceptedRelease{};
    if (m_folder.empty()) return HistoryRead::UNREADABLE;
    const int fd = open((m_folder + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? HistoryRead::NONE : HistoryRead::UNREADABLE;
    // One byte more than a record holds, so a longer file is seen and refused.
    char text[HISTORY_TEXT_SIZE + 1];
    size_t length = 0;
    ssize_t got = 0;
    while (length < sizeof text) {
        got = read(fd, text + length, sizeof text - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<size_t>(got);
    }
    close(fd);
    if (got < 0 || !ParseAcceptedRelease(text, length, release)) return HistoryRead::UNREADABLE;
    return HistoryRead::FOUND;
}

bool CFolderHistory::Write(const char* name, const AcceptedRelease& release)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_folder.empty() || !MakeFolders(m_folder)) return false;
    char text[HISTORY_TEXT_SIZE];
    const size_t length = FormatAcceptedRelease(release, text);
    const std::string path = m_folder + "/" + name;
    const std::string scratch = path + ".new." + std::to_string(getpid());
    const int fd = open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = WriteWhole(fd, text, length) && fsync(fd) == 0;
    if (close(fd) != 0 || !written || rename(scratch.c_str(), path.c_str()) != 0) {
        unlink(scratch.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    const bool synced = fsync(folder) == 0;
    close(folder);
    return synced;
}

std::string DefaultHistoryFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/ruvo-flash";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/ruvo-flash";
    return "";
}
