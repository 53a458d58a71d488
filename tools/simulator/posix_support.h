#pragma once
// Small helpers the native front ends share.

// Pacing: an absolute schedule on CLOCK_MONOTONIC,
// so sleep overshoot is not added up and the device keeps the pace asked of
// it. A schedule far in the past (the host was idle) starts again from now.
#include <cstdint>

class CPacer {
public:
    void Pause(uint32_t microseconds);
    void Restart() { m_scheduleNs = 0; }

private:
    uint64_t m_scheduleNs = 0;
};

uint64_t MonotonicNowNs();

// Reads the simulator's standard input once it is readable: true when a stop
// line ("quit") arrived or the input ended.
bool StopRequested(int fd);
