#pragma once

#include <chrono>
#include <functional>

namespace kestrova::test {

// Polls condition until it holds or the deadline passes; answers the last result. Tests wait
// for conditions this way, never with bare sleeps.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(10));

}  // namespace kestrova::test
