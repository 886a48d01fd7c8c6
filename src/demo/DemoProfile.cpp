#include "demo/DemoProfile.h"

#include <fstream>
#include <system_error>

#include "platform/plist/PlistIO.h"
#include "platform/system/Environment.h"

namespace kestrova {

std::filesystem::path DemoProfile::defaultRoot(const Files& user) {
    // The XDG rules ignore relative values.
    const auto cache = Environment::value("XDG_CACHE_HOME");
    const std::filesystem::path base = cache && cache->front() == '/'
                                           ? std::filesystem::path(*cache)
                                           : user.homeDirectory() / ".cache";
    return base / "kestrova-demo";
}

Files DemoProfile::files() const { return Files(root_ / "home", root_ / "home" / ".config"); }

bool DemoProfile::prepare(std::string& error) const {
    std::error_code ec;
    // Never through a link: the folder is removed whole at every run.
    if (std::filesystem::is_symlink(root_, ec)) {
        error = root_.string() + " is a symbolic link";
        return false;
    }
    std::filesystem::remove_all(root_, ec);
    const Files profile = files();
    std::filesystem::create_directories(profile.configDirectory() / "kestrova", ec);
    if (ec) {
        error = root_.string() + ": " + ec.message();
        return false;
    }
    const auto settings = PlistIO::toXml(
        PlistValue::dictionary({{"useAutoDownloadSystem", PlistValue::boolean(true)}}));
    std::ofstream out(profile.configDirectory() / "kestrova" / "defaults.plist");
    out << settings.value_or("");
    if (!out.flush()) {
        error = root_.string() + ": cannot write the settings";
        return false;
    }
    return true;
}

}  // namespace kestrova
