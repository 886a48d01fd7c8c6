// At most three sources of an episode in the queue; the next starts when one ends, none once
// the episode is won.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/EpisodeSources.h"

namespace kestrova {
namespace {

TEST(EpisodeSources, ThreeAtOnceTheNextWhenOneEndsNoneOnceWon) {
    EpisodeSources sources;
    std::vector<std::string> started;
    for (const char* name : {"a1", "a2", "a3", "a4", "a5", "a6"}) {
        sources.add("A", [&started, name] { started.emplace_back(name); });
    }
    sources.add("B", [&started] { started.emplace_back("b1"); });  // another episode
    EXPECT_EQ(started, (std::vector<std::string>{"a1", "a2", "a3", "b1"}));
    sources.ended("A", false);
    EXPECT_EQ(started.back(), "a4");
    sources.ended("A", true);  // won: a5 and a6 never start
    sources.ended("A", false);
    sources.ended("A", false);
    EXPECT_EQ(started.size(), 5u);
    sources.add("A", [&started] { started.emplace_back("a7"); });  // a later scan
    EXPECT_EQ(started.back(), "a7");
}

}  // namespace
}  // namespace kestrova
