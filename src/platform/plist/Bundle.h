#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/plist/PlistValue.h"

namespace kestrova {

// What the program ships with: its version text, its own location and the default lists
// ("dlst" and "eplst", property lists). A missing or unreadable resource reads as nothing.
class Bundle {
public:
    Bundle(std::string version, std::filesystem::path executablePath,
           std::map<std::string, std::string> resources);
    // The running program: the CMake project version, /proc/self/exe and the compiled-in lists.
    static Bundle main();

    const std::string& shortVersionString() const { return version_; }
    // Absolute path of the program; the login item points here.
    const std::filesystem::path& bundlePath() const { return executablePath_; }
    // The parsed resource "<name>.plist", or nothing when missing or unreadable.
    std::optional<PlistValue> plistResource(const std::string& name) const;

private:
    std::string version_;
    std::filesystem::path executablePath_;
    std::map<std::string, std::string> resources_;
};

}  // namespace kestrova
