// The bookkeeping of a file fetched in pieces, and the Content-Range it trusts, without sockets.
#include <gtest/gtest.h>

#include "platform/net/ContentRange.h"
#include "platform/net/RangePlan.h"

namespace kestrova {
namespace {

using Pieces = std::vector<std::pair<std::int64_t, std::int64_t>>;

Pieces pieces(const RangePlan& plan, std::size_t count) {
    Pieces all;
    for (std::size_t i = 0; i < count; ++i) all.emplace_back(plan.piece(i).next, plan.piece(i).end);
    return all;
}

// Free work first, then back halves of the largest piece, never below twice the smallest piece.
TEST(RangePlan, ClaimsGapsThenStealsHalves) {
    RangePlan plan(100, {{60, 70}, {10, 20}});
    EXPECT_EQ(pieces(plan, 3), (Pieces{{0, 10}, {20, 60}, {70, 100}}));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(plan.claim(10), i);
    EXPECT_EQ(plan.claim(10), 3u);  // [40, 60) from [20, 60)
    EXPECT_EQ(plan.claim(10), 4u);  // [85, 100) from [70, 100)
    EXPECT_EQ(plan.claim(11), std::nullopt) << "halves of 10 are below 11";
    EXPECT_EQ(pieces(plan, 5), (Pieces{{0, 10}, {20, 40}, {70, 85}, {40, 60}, {85, 100}}));
    plan.release(2);
    EXPECT_EQ(plan.claim(10), 2u) << "a released rest is free work";
    plan.shorten(1, 30);
    EXPECT_EQ(plan.claim(10), 5u);
    EXPECT_EQ(pieces(plan, 6).back(), (std::pair<std::int64_t, std::int64_t>{30, 40}));
}

// Each byte counts once, however often it is written; kept ranges merge.
TEST(RangePlan, CountsNewBytesAndMergesKept) {
    RangePlan plan(100, {{0, 10}, {50, 60}});
    EXPECT_TRUE(plan.keptUpTo(10) && !plan.keptUpTo(11));
    const std::size_t first = *plan.claim(1);
    EXPECT_EQ(plan.wrote(first, 45), 40) << "at most the piece's room";
    EXPECT_EQ(plan.kept(), (std::vector<ByteRange>{{0, 60}}));
    const std::size_t whole = plan.alone(0);
    EXPECT_EQ(plan.wrote(whole, 70), 10);
    EXPECT_FALSE(plan.complete());
    EXPECT_EQ(plan.wrote(whole, 30), 30);
    EXPECT_TRUE(plan.complete() && plan.room(whole) == 0);
}

TEST(ContentRange, IsReadStrictly) {
    const auto range = ContentRange::parse("bytes 0-9/10");
    ASSERT_TRUE(range);
    EXPECT_EQ(std::tuple(range->first, range->last, range->total), std::tuple(0, 9, 10));
    for (const char* bad : {"bytes 5-4/10", "bytes 0-10/10", "bytes */10", "bytes 0-9/*",
                            "bytes -1-9/10", "bytes 0-9/10 ", " bytes 0-9/10", "bytes=0-9/10",
                            "bytes 0-9/10,11-12/20", "bytes 0-1/1000000000000000000", ""})
        EXPECT_FALSE(ContentRange::parse(bad)) << bad;
}

}  // namespace
}  // namespace kestrova
