// Dialog units both ways: the window scenario's geometry lines are these
// numbers, so a rounding slip shows there as a wrong layout.
#include "tools/uidriver/dialog_units.h"

#include <gtest/gtest.h>

namespace {

// Base units of a font 7 pixels across and 14 down (4 and 8 units to them).
constexpr int BASE_X = 7;
constexpr int BASE_Y = 14;

TEST(DialogUnits, UnitsToPixelsRoundsHalvesAwayFromZero)
{
    const struct {
        long units;
        int base;
        int per;
        long pixels;
    } cases[] = {
        {0, BASE_X, 4, 0},      // nothing is nothing
        {4, BASE_X, 4, 7},      // four units are the base
        {1, BASE_X, 4, 2},      // 1.75
        {2, BASE_X, 4, 4},      // 3.5 rounds up
        {-2, BASE_X, 4, -4},    // -3.5 rounds away from zero
        {-1, BASE_X, 4, -2},    // -1.75
        {8, BASE_Y, 8, 14},     // eight units down are the base
        {3, BASE_Y, 8, 5},      // 5.25
        {100, BASE_Y, 8, 175},  // exact
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UnitsToPixels(c.units, c.base, c.per), c.pixels) << c.units << " units, base " << c.base;
    }
}

TEST(DialogUnits, PixelsBackToUnitsMarkValuesNoUnitGives)
{
    const struct {
        long pixels;
        int base;
        int per;
        const char* units;
    } cases[] = {
        {0, BASE_X, 4, "0"},       // nothing is nothing
        {7, BASE_X, 4, "4"},       // the base is four units
        {2, BASE_X, 4, "1"},       // 1 unit is 1.75 -> 2 pixels
        {3, BASE_X, 4, "~2"},      // nearest is 2 units, which map to 4 pixels
        {4, BASE_X, 4, "2"},       // 2 units are 3.5 -> 4 pixels
        {-7, BASE_X, 4, "-4"},     // left of the origin
        {-3, BASE_X, 4, "~-2"},    // -2 units map to -4 pixels
        {175, BASE_Y, 8, "100"},   // exact
        {176, BASE_Y, 8, "~101"},  // 100.57 rounds to 101, which gives 177
        {14, BASE_Y, 8, "8"},      // the base is eight units
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PixelsToUnits(c.pixels, c.base, c.per), c.units) << c.pixels << " pixels, base " << c.base;
    }
}

// Every whole unit survives the round trip when a unit is wider than half a
// pixel's worth of rounding (base above per), as with every dialog font.
TEST(DialogUnits, WholeUnitsRoundTrip)
{
    for (int base = 5; base <= 20; ++base) {
        for (long units = -50; units <= 400; ++units) {
            for (int per : {4, 8}) {
                if (base <= per) continue;
                ASSERT_EQ(PixelsToUnits(UnitsToPixels(units, base, per), base, per), std::to_string(units))
                    << units << " units, base " << base << " per " << per;
            }
        }
    }
}

}  // namespace
