#pragma once
// How long one download may take in all. The transfer's own time-outs only
// end a connection that goes silent; a server that sends a byte now and then
// never goes silent, and a 2 MiB image at 2 bytes a second would take twelve
// days. So each file gets a total deadline that grows with the most it may
// hold: a floor for the round trips and the small files (the catalogue and
// its statement end within it), plus its size at a slow but honest rate,
// 8 KiB/s (a 64 kbit/s line). A 2 MiB image: 20 s + 256 s. Portable, so both
// updaters take the same bound.
#include <cstddef>
#include <cstdint>

struct DownloadDeadline {
    uint32_t floorMs = 20000;
    uint32_t bytesPerSecond = 8192;
};

inline uint64_t DownloadDeadlineMs(size_t capacity, const DownloadDeadline& rule)
{
    const uint32_t rate = rule.bytesPerSecond > 0 ? rule.bytesPerSecond : 1;
    return uint64_t(rule.floorMs) + uint64_t(capacity) * 1000u / rate;
}

// "FLOOR_MS,BYTES_PER_SECOND", e.g. "1000,100000": shorter bounds for tests,
// so that a slow-server case takes seconds. False (rule unchanged) unless both
// are whole numbers, the rate above 0.
bool ParseDownloadDeadline(const char* text, DownloadDeadline& rule);
