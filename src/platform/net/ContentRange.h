#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrova {

// The Content-Range of a 206 reply, "bytes <first>-<last>/<total>", read strictly: decimal
// digits only (at most 18, so nothing overflows), first <= last < total. Anything else (a "*"
// total, signs, spaces, several ranges) is nothing: a reply that cannot be placed exactly in
// the file is never written into it.
struct ContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = 0;

    static std::optional<ContentRange> parse(std::string_view text);
};

}  // namespace kestrova
