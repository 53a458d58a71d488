#pragma once
// What every store of accepted releases must do, checked the same way for
// each: nothing at first, and a second write that replaces the first whole.
#include <gtest/gtest.h>

#include "update/release_history.h"

inline AcceptedRelease ReleaseWithSerial(uint64_t serial)
{
    AcceptedRelease release{serial, {}};
    release.signedSha256[0] = 0xAB;
    release.signedSha256[31] = 0xCD;
    return release;
}

inline void ExpectLaterWriteReadsBack(CReleaseHistory& history, const char* name, uint64_t first)
{
    AcceptedRelease got{};
    EXPECT_EQ(history.Read(name, &got), HistoryRead::NONE);
    ASSERT_TRUE(history.Write(name, ReleaseWithSerial(first)));
    ASSERT_TRUE(history.Write(name, ReleaseWithSerial(first + 1)));
    ASSERT_EQ(history.Read(name, &got), HistoryRead::FOUND);
    EXPECT_EQ(got.serial, first + 1);
    EXPECT_EQ(got.signedSha256[0], 0xAB);
    EXPECT_EQ(got.signedSha256[31], 0xCD);
}
