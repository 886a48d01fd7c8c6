#pragma once

#include <filesystem>
#include <string>

#include "platform/system/Files.h"

namespace kestrova {

// The throwaway profile of a demo run, ${XDG_CACHE_HOME:-~/.cache}/kestrova-demo: a home of its
// own (settings, activity log, Documents, Downloads) so that the user's own are never touched.
// It is cleared at the start of each demo run, and its settings switch automatic downloads on.
class DemoProfile {
public:
    explicit DemoProfile(std::filesystem::path root) : root_(std::move(root)) {}
    // The profile under the user's cache folder.
    static std::filesystem::path defaultRoot(const Files& user);

    // Clears and prepares the profile; false, with the reason in error, when it cannot (the
    // folder is a link, or cannot be written).
    bool prepare(std::string& error) const;
    const std::filesystem::path& root() const { return root_; }
    // The demo's single-instance lock, beside the profile: clearing the profile keeps it.
    std::filesystem::path lockPath() const { return root_.parent_path() / "kestrova-demo.lock"; }
    // The profile's folders, as a Files of its own.
    Files files() const;

private:
    std::filesystem::path root_;
};

}  // namespace kestrova
