// The race of an episode's sources, driven with chosen times: who leads after the probe, who
// waits, and who takes over.
#include <gtest/gtest.h>

#include "download/EpisodeRace.h"

namespace kestrova {
namespace {

using Turn = EpisodeRace::Turn;
using std::chrono::milliseconds;

class EpisodeRaceTest : public ::testing::Test {
protected:
    EpisodeRace::Clock::time_point at(int ms) const { return t0 + milliseconds(ms); }
    bool noOneCancelled() const { return false; }

    EpisodeRace race;
    const EpisodeRace::Clock::time_point t0 = EpisodeRace::Clock::now();
    const int fast = 0, slow = 0, late = 0;  // their addresses name the sources
};

// Both run until the probe is over (not before 250 ms, and only once each has 512 KiB unless
// 1.5 s have passed); then the faster leads and the slower waits, as does one joining later.
TEST_F(EpisodeRaceTest, TheFasterLeadsAfterTheProbe) {
    race.join(&fast, at(0));
    race.join(&slow, at(0));
    EXPECT_EQ(race.report(&fast, 1 << 20, at(100)), Turn::Run);    // too early
    EXPECT_EQ(race.report(&slow, 100 << 10, at(400)), Turn::Run);  // not everyone has enough
    EXPECT_EQ(race.report(&fast, 2 << 20, at(1500)), Turn::Lead);  // the longest probe: decided
    EXPECT_EQ(race.report(&slow, 200 << 10, at(1600)), Turn::Wait);
    race.join(&late, at(1700));
    EXPECT_EQ(race.report(&late, 1 << 20, at(1800)), Turn::Wait);
    EXPECT_EQ(race.report(&fast, 3 << 20, at(1900)), Turn::Lead);
}

// A leader whose pace over five seconds falls below a quarter of its probe pace waits, and the
// best of the others leads.
TEST_F(EpisodeRaceTest, ALeaderThatSlowsDownIsReplaced) {
    race.join(&fast, at(0));
    race.join(&slow, at(0));
    race.report(&fast, 2 << 20, at(1000));
    ASSERT_EQ(race.report(&slow, 1 << 20, at(1000)), Turn::Wait);
    // 2 MiB/s in the probe; then 4 MiB in 5 s keeps the lead, 1 MiB in the next 5 s does not.
    EXPECT_EQ(race.report(&fast, 6 << 20, at(6000)), Turn::Lead);
    EXPECT_EQ(race.report(&fast, 7 << 20, at(11000)), Turn::Wait);
    EXPECT_TRUE(race.waitForTurn(&slow, [] { return false; }));
}

}  // namespace
}  // namespace kestrova
