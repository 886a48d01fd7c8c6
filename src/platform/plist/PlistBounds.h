#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

// Checks a property list's raw bytes before libplist reads them. libplist 2.2 recurses on
// nesting and copies every shared reference of a binary list once per use, so a small hostile
// document (the server's lists travel over plain http; a settings file can be edited) could
// exhaust the stack or the memory. The check walks the document once, never recursing, in time
// and memory linear in its size, and refuses whatever exceeds the bounds below or whatever it
// cannot read the way libplist will.
class PlistBounds {
public:
    // Containers around any one value.
    static constexpr int kMaxDepth = 256;
    // Values, dictionary keys included, counting every use of a shared binary object.
    static constexpr std::uint64_t kMaxObjects = 1'000'000;
    // The document, and a binary document's objects counted once per use.
    static constexpr std::size_t kMaxBytes = std::size_t{32} << 20;

    // Why the document is refused, or nothing when it stays within every bound.
    static std::optional<std::string> refusal(std::string_view document);
    // Whether the document is for the binary reader rather than the XML one.
    static bool isBinary(std::string_view document);
};

}  // namespace kestrova
