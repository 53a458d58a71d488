#include "common/utc_time.h"

std::string UtcTimeStamp(std::time_t when)
{
    std::tm utc{};
    // The thread-safe forms: several device sessions stamp their ends at once.
    // Both take the time and the result, in opposite orders.
#ifdef _WIN32
    gmtime_s(&utc, &when);
#else
    gmtime_r(&when, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string UtcNow()
{
    return UtcTimeStamp(std::time(nullptr));
}
