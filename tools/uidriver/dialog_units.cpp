#include "tools/uidriver/dialog_units.h"

// Rounds value * mul / div to the nearest integer, halves away from zero (div > 0).
static long ScaleRounded(long value, long mul, long div)
{
    const long long product = static_cast<long long>(value) * mul;
    return static_cast<long>(product >= 0 ? (product + div / 2) / div : (product - div / 2) / div);
}

long UnitsToPixels(long units, int base, int per)
{
    return ScaleRounded(units, base, per);
}

std::string PixelsToUnits(long pixels, int base, int per)
{
    const long units = ScaleRounded(pixels, per * 2, base * 2);
    return (UnitsToPixels(units, base, per) == pixels ? "" : "~") + std::to_string(units);
}
