// Whole-file I/O with messages that name the file.
#include "tools/ruvo-pack/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "common/quoted.h"
#include "common/system_message.h"

const char TEMP_FILE_PREFIX[] = ".~ruvo-";

namespace {

#ifdef _WIN32
using StatBuffer = struct _stat64;
int OpenForReading(const std::string& path)
{
    return _open(path.c_str(), _O_RDONLY | _O_BINARY);
}
int OpenNewFile(const std::string& path)
{
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int StatOf(int fd, StatBuffer* info)
{
    return _fstat64(fd, info);
}
long ReadSome(int fd, uint8_t* buffer, size_t size)
{
    return _read(fd, buffer, static_cast<unsigned>(size > 0x40000000 ? 0x40000000 : size));
}
long WriteSome(int fd, const uint8_t* buffer, size_t size)
{
    return _write(fd, buffer, static_cast<unsigned>(size > 0x40000000 ? 0x40000000 : size));
}
int FlushToDisk(int fd)
{
    return _commit(fd);
}
int CloseFile(int fd)
{
    return _close(fd);
}
bool RenameOver(const std::string& from, const std::string& to)
{
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    errno = EACCES;  // the Win32 error has no errno of its own
    return false;
}
unsigned long ProcessId()
{
    return static_cast<unsigned long>(_getpid());
}
#else
using StatBuffer = struct stat;
int OpenForReading(const std::string& path)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; the file type is
    // checked before anything is read.
    return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}
int OpenNewFile(const std::string& path)
{
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
}
int StatOf(int fd, StatBuffer* info)
{
    return fstat(fd, info);
}
long ReadSome(int fd, uint8_t* buffer, size_t size)
{
    return static_cast<long>(read(fd, buffer, size));
}
long WriteSome(int fd, const uint8_t* buffer, size_t size)
{
    return static_cast<long>(write(fd, buffer, size));
}
int FlushToDisk(int fd)
{
    return fsync(fd);
}
int CloseFile(int fd)
{
    return close(fd);
}
bool RenameOver(const std::string& from, const std::string& to)
{
    return rename(from.c_str(), to.c_str()) == 0;
}
unsigned long ProcessId()
{
    return static_cast<unsigned long>(getpid());
}
#endif

// Refusal text for a file that is not a regular file.
std::string KindOf(const StatBuffer& info)
{
    if ((info.st_mode & S_IFMT) == S_IFDIR) return "is a folder, not a file";
#ifdef S_IFIFO
    if ((info.st_mode & S_IFMT) == S_IFIFO) return "is a FIFO, not a regular file";
#endif
    return "is not a regular file";
}

}  // namespace

std::string TempPathNextTo(const std::string& target)
{
    static std::atomic<unsigned> s_counter{0};
    const std::filesystem::path path(target);
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string name = std::string(TEMP_FILE_PREFIX) + path.filename().string() + "-" +
                             std::to_string(ProcessId()) + "-" + std::to_string(s_counter++) + "-" +
                             std::to_string(static_cast<unsigned long long>(ticks) % 1000000007ull);
    return (path.parent_path() / name).string();
}

bool ReadWholeFile(const std::string& path, uint64_t cap, std::vector<uint8_t>* bytes, std::string* error)
{
    const int fd = OpenForReading(path);
    if (fd < 0) {
        const int code = errno;
        *error = Quoted(path) + " cannot be opened: " + SystemMessage(code);
        return false;
    }
    return ReadOpenedFile(fd, path, cap, bytes, error);
}

bool ReadOpenedFile(int fd, const std::string& path, uint64_t cap, std::vector<uint8_t>* bytes, std::string* error)
{
    StatBuffer info;
    std::string problem;
    if (StatOf(fd, &info) != 0) {
        problem = "cannot be examined: " + SystemMessage(errno);
    } else if ((info.st_mode & S_IFMT) != S_IFREG) {
        problem = KindOf(info);
    } else if (info.st_size == 0) {
        problem = "is empty";
    } else if (static_cast<uint64_t>(info.st_size) > cap) {
        problem =
            "is " + std::to_string(info.st_size) + " bytes, more than the " + std::to_string(cap) + " it may have";
    }
    std::vector<uint8_t> content;
    if (problem.empty()) {
        // The size is read again as the bytes arrive: the file may change
        // while it is read, and the cap holds for what is actually read.
        content.resize(static_cast<size_t>(info.st_size));
        size_t filled = 0;
        for (;;) {
            if (filled == content.size()) {
                if (content.size() > cap) break;
                const uint64_t grown = std::min<uint64_t>(cap + 1, content.size() + 65536);
                content.resize(static_cast<size_t>(grown));
            }
            const long got = ReadSome(fd, content.data() + filled, content.size() - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                problem = "cannot be read: " + SystemMessage(errno);
                break;
            }
            if (got == 0) break;
            filled += static_cast<size_t>(got);
        }
        content.resize(filled);
        if (problem.empty() && filled > cap) problem = "grew past the " + std::to_string(cap) + " bytes it may have";
        if (problem.empty() && filled == 0) problem = "is empty";
    }
    CloseFile(fd);
    if (!problem.empty()) {
        *error = Quoted(path) + " " + problem;
        return false;
    }
    *bytes = std::move(content);
    return true;
}

bool SyncFolder(const std::string& path, std::string* error)
{
#ifdef _WIN32
    (void)path;
    (void)error;
    return true;
#else
    const int fd = open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
        const int code = errno;
        if (fd >= 0) close(fd);
        *error = "cannot flush folder " + Quoted(path) + ": " + SystemMessage(code);
        return false;
    }
    close(fd);
    return true;
#endif
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code code;
    if (!parent.empty()) std::filesystem::create_directories(parent, code);
    if (code) {
        *error = "cannot create folder " + Quoted(parent.string()) + ": " + code.message();
        return false;
    }
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = TempPathNextTo(path);
        fd = OpenNewFile(temp);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *error = "cannot create a temporary file next to " + Quoted(path) + ": " + SystemMessage(errno);
        return false;
    }
    std::string problem;
    size_t written = 0;
    while (written < bytes.size()) {
        const long put = WriteSome(fd, bytes.data() + written, bytes.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            // A short write that makes no progress is a full disk or a size limit.
            problem = put < 0 ? SystemMessage(errno) : "no space written";
            break;
        }
        written += static_cast<size_t>(put);
    }
    if (problem.empty() && FlushToDisk(fd) != 0) problem = SystemMessage(errno);
    if (CloseFile(fd) != 0 && problem.empty()) problem = SystemMessage(errno);
    if (problem.empty() && !RenameOver(temp, path)) problem = "cannot rename into place: " + SystemMessage(errno);
    if (!problem.empty()) {
        std::remove(temp.c_str());
        *error = "cannot write " + Quoted(path) + ": " + problem + " (the old file, if any, is unchanged)";
        return false;
    }
    std::string ignored;
    SyncFolder(parent.string(), &ignored);
    return true;
}
