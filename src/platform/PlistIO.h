#pragma once

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
    static std::optional<PlistValue> parse(std::string_view bytes);
    static std::optional<PlistValue> readFile(const std::filesystem::path& path);
    static std::optional<std::string> toXml(const PlistValue& value);
};

}  // namespace kestrova
