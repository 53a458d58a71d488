#include "cli/socket_transport_posix.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CSocketTransport::~CSocketTransport()
{
    if (m_fd >= 0) close(m_fd);
}

OpenStatus CSocketTransport::Open(const std::string& path, int boundMs)
{
    m_boundMs = boundMs;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return OpenStatus::NOT_FOUND;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    m_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return OpenStatus::FAILED;
    // The smallest send buffer the system allows (a few reports): a write
    // completes about when the device has taken the report, as on a real
    // endpoint, so the write phase's progress is the device's, not a buffer's.
    const int smallest = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest);
    if (connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(m_fd);
        m_fd = -1;
        if (error == EACCES || error == EPERM) return OpenStatus::NO_ACCESS;
        if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR) return OpenStatus::NOT_FOUND;
        return OpenStatus::FAILED;
    }
    return OpenStatus::OK;
}

// Waits for readiness within the bound; a signal does not end the wait early,
// so a transfer is either complete or abandoned for good, never left pending.
bool CSocketTransport::Wait(short events)
{
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= m_boundMs) return false;
        pollfd fd{m_fd, events, 0};
        const int ready = poll(&fd, 1, int(m_boundMs - elapsed));
        if (ready > 0) return (fd.revents & events) != 0;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

int CSocketTransport::WriteReport(const uint8_t* buffer, uint32_t* count)
{
    if (count != nullptr) *count = 0;
    if (m_fd < 0 || m_gone) return 0;
    if (!Wait(POLLOUT) || send(m_fd, buffer, REPORT_SIZE, MSG_NOSIGNAL) != ssize_t(REPORT_SIZE)) {
        m_gone = true;
        return 0;
    }
    if (count != nullptr) *count = REPORT_SIZE;
    return 1;
}

int CSocketTransport::ReadReport(uint8_t* buffer, uint32_t* count)
{
    if (count != nullptr) *count = 0;
    if (m_fd < 0 || m_gone) return 0;
    ssize_t got = -1;
    if (Wait(POLLIN)) got = recv(m_fd, buffer, REPORT_SIZE, 0);
    if (got <= 0) {
        m_gone = true;
        return 0;
    }
    if (count != nullptr) *count = uint32_t(got);
    return 1;
}
