#pragma once
// Shared pieces of the Windows benchmark programs: a clock, medians and
// command-line options.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/common/numbers.h"

namespace bench {

inline double Now()
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double Min(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

// "--name value" from the command line, or the default. A value that is not
// a number ends the program with a usage error rather than reading as 0.
inline unsigned Option(int argc, char** argv, const char* name, unsigned fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) != 0) continue;
        uint64_t value = 0;
        if (!ParseNumber(argv[i + 1], UINT32_MAX, value)) {
            std::fprintf(stderr, "%s takes a number, not %s\n", name, argv[i + 1]);
            std::exit(2);
        }
        return static_cast<unsigned>(value);
    }
    return fallback;
}

inline bool Flag(int argc, char** argv, const char* name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

}  // namespace bench
