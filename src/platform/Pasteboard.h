#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrova {

// The general pasteboard (the clipboard): a change count that grows with every new content, and
// the content as plain text when there is any.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    virtual std::int64_t changeCount() = 0;
    virtual std::optional<std::string> string() = 0;
};

}  // namespace kestrova
