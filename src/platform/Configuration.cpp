#include "platform/Configuration.h"

#include <cstdlib>

#ifndef KESTROVA_DEFAULT_SERVER_URL
#define KESTROVA_DEFAULT_SERVER_URL "http://kestrova.example.net"
#endif
#ifndef KESTROVA_DEFAULT_SITE_URL
#define KESTROVA_DEFAULT_SITE_URL "http://himawari.example.net/"
#endif

namespace kestrova {

Configuration Configuration::make(std::string serverURL, std::string siteURL) {
    while (!serverURL.empty() && serverURL.back() == '/') serverURL.pop_back();
    if (siteURL.empty() || siteURL.back() != '/') siteURL.push_back('/');
    return Configuration{std::move(serverURL), std::move(siteURL)};
}

Configuration Configuration::fromEnvironment() {
    auto value = [](const char* name, const char* fallback) {
        const char* v = std::getenv(name);
        return std::string(v != nullptr && *v != '\0' ? v : fallback);
    };
    return make(value("KESTROVA_SERVER_URL", KESTROVA_DEFAULT_SERVER_URL),
                value("KESTROVA_SITE_URL", KESTROVA_DEFAULT_SITE_URL));
}

}  // namespace kestrova
