#include "update/download_deadline.h"

#include <cerrno>
#include <cstdlib>

bool ParseDownloadDeadline(const char* text, DownloadDeadline& rule)
{
    if (text == nullptr || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long floorMs = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != ',' || floorMs > UINT32_MAX || end[1] < '0' || end[1] > '9') return false;
    const char* rateText = end + 1;
    const unsigned long rate = std::strtoul(rateText, &end, 10);
    if (errno != 0 || *end != '\0' || rate == 0 || rate > UINT32_MAX) return false;
    rule.floorMs = uint32_t(floorMs);
    rule.bytesPerSecond = uint32_t(rate);
    return true;
}
