// When the scans are due: every 30 minutes, and 1, 2, 4 ... minutes after failed list fetches.
#include <gtest/gtest.h>

#include "app/ScanSchedule.h"

namespace kestrova {
namespace {

using std::chrono::minutes;

TEST(ScanSchedule, ThirtyMinutesAfterAScanAndSoonerAfterFailedLists) {
    ScanSchedule schedule;
    EXPECT_TRUE(schedule.due(minutes(0)));  // nothing scanned yet
    schedule.started(minutes(0));
    schedule.finished(true);
    EXPECT_FALSE(schedule.due(minutes(29)));
    EXPECT_TRUE(schedule.due(minutes(30)));
    // No network: tried again after 1, 2, 4 ... minutes, never later than the usual 30.
    ScanSchedule::Time at = minutes(30);
    for (const int wait : {1, 2, 4, 8, 16, 30, 30}) {
        schedule.started(at);
        schedule.finished(false);
        EXPECT_FALSE(schedule.due(at + minutes(wait) - std::chrono::milliseconds(1))) << wait;
        EXPECT_TRUE(schedule.due(at + minutes(wait))) << wait;
        at += minutes(wait);
    }
    schedule.started(at);
    schedule.finished(true);
    EXPECT_FALSE(schedule.due(at + minutes(29)));
}

}  // namespace
}  // namespace kestrova
