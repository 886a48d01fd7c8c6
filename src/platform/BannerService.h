#pragma once

#include <filesystem>
#include <string>

namespace kestrova {

// Desktop notifications ("banners"): a title, a text and the default sound, shown even while
// Kestrova is the active application.
class BannerService {
public:
    virtual ~BannerService() = default;
    virtual void deliver(const std::string& title, const std::string& informativeText) = 0;
    // A banner about a file just downloaded: where the desktop can, it offers to open the file
    // (also what a click on the banner does) or to show it in its folder.
    virtual void deliverForFile(const std::string& title, const std::string& informativeText,
                                const std::filesystem::path& /*file*/) {
        deliver(title, informativeText);
    }
};

}  // namespace kestrova
