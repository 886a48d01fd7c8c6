#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/plist/PlistBounds.h"
#include "platform/plist/PlistValue.h"

namespace kestrova {

// Reading and writing property lists through libplist. Reading accepts XML and binary
// documents, and only those within PlistBounds; writing produces XML. Every failure is an empty
// result, never an exception.
class PlistIO {
public:
    // The largest document read from anywhere.
    static constexpr std::size_t kMaxDocumentBytes = PlistBounds::kMaxBytes;

    // On failure, *error (when given) says why, e.g. "nested deeper than 256 levels".
    static std::optional<PlistValue> parse(std::string_view bytes, std::string* error = nullptr);
    // A regular file (never through a symbolic link) of at most kMaxDocumentBytes.
    static std::optional<PlistValue> readFile(const std::filesystem::path& path,
                                              std::string* error = nullptr);
    static std::optional<std::string> toXml(const PlistValue& value);
};

}  // namespace kestrova
