#include "tools/simulator/posix_support.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

uint64_t MonotonicNowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

void CPacer::Pause(uint32_t microseconds)
{
    const uint64_t now = MonotonicNowNs();
    if (m_scheduleNs + 50000000u < now) m_scheduleNs = now;
    m_scheduleNs += uint64_t(microseconds) * 1000u;
    if (m_scheduleNs <= now) return;
    timespec until{time_t(m_scheduleNs / 1000000000u), long(m_scheduleNs % 1000000000u)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

bool StopRequested(int fd)
{
    char line[256];
    const ssize_t got = read(fd, line, sizeof line);
    return got <= 0 || std::strncmp(line, "quit", 4) == 0;
}
