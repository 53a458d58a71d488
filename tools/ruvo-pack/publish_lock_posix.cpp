#include "tools/ruvo-pack/publish_lock_posix.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "common/quoted.h"
#include "common/system_message.h"
#include "tools/ruvo-pack/exit_codes.h"

CPublishLock::~CPublishLock()
{
    if (m_fd >= 0) close(m_fd);
}

int CPublishLock::Acquire(const std::string& path, std::string* error)
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
