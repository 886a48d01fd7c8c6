#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/PlistValue.h"

namespace kestrova {

// Reading and writing property lists through libplist. Reading accepts XML and binary
// documents; writing produces XML. Every failure is an empty result, never an exception.
class PlistIO {
public:
    // The largest document read from anywhere.
    static constexpr std::size_t kMaxDocumentBytes = 32u * 1024u * 1024u;

    // error, when given, receives why nothing came back.
    static std::optional<PlistValue> parse(std::string_view bytes, std::string* error = nullptr);
    // A regular file (never through a symbolic link) of at most kMaxDocumentBytes.
    static std::optional<PlistValue> readFile(const std::filesystem::path& path,
                                              std::string* error = nullptr);
    static std::optional<std::string> toXml(const PlistValue& value);
};

}  // namespace kestrova
