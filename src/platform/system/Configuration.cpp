#include "platform/system/Configuration.h"

#include "platform/system/Environment.h"

// KESTROVA_DEFAULT_SERVER_URL and KESTROVA_DEFAULT_SITE_URL come from the build (CMake cache
// variables of the same names), the one place the deployment's defaults are set.

namespace kestrova {

Configuration Configuration::make(std::string serverURL, std::string siteURL) {
    while (!serverURL.empty() && serverURL.back() == '/') serverURL.pop_back();
    if (siteURL.empty() || siteURL.back() != '/') siteURL.push_back('/');
    return Configuration{std::move(serverURL), std::move(siteURL)};
}

Configuration Configuration::fromEnvironment() {
    return make(Environment::value("KESTROVA_SERVER_URL").value_or(KESTROVA_DEFAULT_SERVER_URL),
                Environment::value("KESTROVA_SITE_URL").value_or(KESTROVA_DEFAULT_SITE_URL));
}

}  // namespace kestrova
