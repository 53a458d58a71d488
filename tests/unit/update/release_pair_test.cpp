// When identification looks at a release a second time, and what it then
// tells: the decision both updaters share.
#include "update/release_pair.h"

#include <gtest/gtest.h>

namespace {

TEST(ReleasePair, OnlyAPairThatASwapMaySplitIsFetchedAgainOnceAndTheFirstRefusalStands)
{
    constexpr int32_t NOT_CALLED = 99;
    struct Case {
        int32_t first;
        int32_t second;  // what the second pair's check says, if it is fetched
        bool fetchedAgain;
        int32_t told;
    };
    const Case cases[] = {
        {STATEMENT_OK, NOT_CALLED, false, STATEMENT_OK},
        {STATEMENT_MALFORMED, NOT_CALLED, false, STATEMENT_MALFORMED},
        {STATEMENT_BAD_SIGNATURE, NOT_CALLED, false, STATEMENT_BAD_SIGNATURE},
        {STATEMENT_OTHER_MODEL, NOT_CALLED, false, STATEMENT_OTHER_MODEL},
        {STATEMENT_OTHER_CATALOGUE, STATEMENT_OK, true, STATEMENT_OK},
        {STATEMENT_OTHER_RECORDS, STATEMENT_OK, true, STATEMENT_OK},
        {STATEMENT_OTHER_CATALOGUE, STATEMENT_OTHER_CATALOGUE, true, STATEMENT_OTHER_CATALOGUE},
        {STATEMENT_OTHER_CATALOGUE, STATEMENT_OTHER_RECORDS, true, STATEMENT_OTHER_CATALOGUE},
        {STATEMENT_OTHER_RECORDS, STATEMENT_BAD_SIGNATURE, true, STATEMENT_OTHER_RECORDS},
        {STATEMENT_OTHER_CATALOGUE, STATEMENT_MALFORMED, true, STATEMENT_OTHER_CATALOGUE},
    };
    for (const Case& c : cases) {
        int firstCalls = 0, secondCalls = 0;
        const int32_t told = CheckReleasePair(
            [&] {
                ++firstCalls;
                return c.first;
            },
            [&] {
                ++secondCalls;
                return c.second;
            });
        EXPECT_EQ(told, c.told) << c.first << " then " << c.second;
        EXPECT_EQ(firstCalls, 1) << c.first;
        EXPECT_EQ(secondCalls, c.fetchedAgain ? 1 : 0) << c.first << " then " << c.second;
    }
}

}  // namespace
