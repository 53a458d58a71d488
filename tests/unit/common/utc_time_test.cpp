// UTC time stamps: the ISO 8601 form, whatever the local time zone.
#include "common/utc_time.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(UtcTimeStamp, IsoFormInUtc)
{
    // A zone far from UTC: a stamp made in local time would show it.
    setenv("TZ", "CST-8", 1);  // POSIX form: no zone database needed
    tzset();
    const struct {
        std::time_t when;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {951782400, "2000-02-29T00:00:00Z"},  // a leap day
        {1714566896, "2024-05-01T12:34:56Z"},
        {2147483647, "2038-01-19T03:14:07Z"},  // the last second of 32-bit time
    };
    for (const auto& c : cases) EXPECT_EQ(UtcTimeStamp(c.when), c.text) << c.when;
    unsetenv("TZ");
    tzset();
}

}  // namespace
