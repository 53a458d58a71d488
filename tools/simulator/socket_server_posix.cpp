#include "tools/simulator/socket_server_posix.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CSocketServer::~CSocketServer()
{
    CloseClient();
    if (m_listen >= 0) {
        close(m_listen);
        unlink(m_path.c_str());
    }
}

bool CSocketServer::Start(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    m_listen = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (m_listen < 0) return false;
    unlink(path.c_str());
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_listen, 8) != 0) {
        close(m_listen);
        m_listen = -1;
        return false;
    }
    m_path = path;
    return true;
}

void CSocketServer::CloseClient()
{
    if (m_client >= 0) close(m_client);
    m_client = -1;
}

// Gone for good: the open connection breaks and new connects are refused,
// as an unplugged device's handles fail and its path disappears.
void CSocketServer::Unplug()
{
    CloseClient();
    if (m_listen >= 0) {
        close(m_listen);
        unlink(m_path.c_str());
        m_listen = -1;
    }
}

void CSocketServer::Serve(int stopFd)
{
    for (;;) {
        // A hung device takes nothing more: the client's reports stay in the
        // small socket buffer, so its next write waits out its bound; only a
        // stop line is still heard.
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {m_client >= 0 ? m_client : m_listen, POLLIN, 0}};
        const nfds_t count = fds[1].fd >= 0 && !m_device.Hung() ? 2 : 1;
        if (poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        // Reports already sent are taken before a stop line: a client's last
        // command (the finish command) is in the log once it has been written.
        if (count < 2 || fds[1].revents == 0) {
            if ((fds[0].revents & (POLLIN | POLLHUP)) && StopRequested(stopFd)) return;
            continue;
        }
        if (m_client < 0) {
            m_client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            // Little inbound buffering, as an endpoint that takes one report at a time.
            const int smallest = 1;
            if (m_client >= 0) setsockopt(m_client, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
            m_pacer.Restart();
            continue;
        }
        // One datagram is one report; MSG_TRUNC gives its real length, so a
        // report of the wrong size is seen and refused by the device.
        uint8_t report[REPORT_SIZE * 2];
        const ssize_t got = recv(m_client, report, sizeof report, MSG_TRUNC);
        if (got <= 0) {
            CloseClient();
            continue;
        }
        const size_t length = size_t(got) < sizeof report ? size_t(got) : sizeof report;
        m_device.ReceiveReport(report, length, *this);
        if (m_device.Unplugged()) Unplug();
    }
}

void CSocketServer::SendReport(const uint8_t (&report)[REPORT_SIZE])
{
    if (m_client < 0) return;
    // Blocks while the client has not taken earlier answers: the socket's
    // buffer stands in for the endpoint's queue.
    if (send(m_client, report, REPORT_SIZE, MSG_NOSIGNAL) != ssize_t(REPORT_SIZE)) CloseClient();
}

void CSocketServer::Pause(uint32_t microseconds)
{
    m_pacer.Pause(microseconds);
}
