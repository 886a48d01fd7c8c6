#pragma once

#include <cstdint>

namespace kestrova {

// The bytes [begin, end) of a file.
struct ByteRange {
    std::int64_t begin = 0;
    std::int64_t end = 0;

    bool operator==(const ByteRange&) const = default;
};

}  // namespace kestrova
