#pragma once

#include <string>

namespace kestrova {

// The two deployment values: the maker's server (download list, release page) and the video
// site's top page. Build-time defaults, overridden by KESTROVA_SERVER_URL and KESTROVA_SITE_URL.
struct Configuration {
    std::string serverURL;  // base without trailing "/", e.g. "http://127.0.0.1:8080"
    std::string siteURL;    // the top page, ending in "/"

    static Configuration fromEnvironment();
    // Normalises the two texts as fromEnvironment() does: serverURL loses trailing "/",
    // siteURL gains one.
    static Configuration make(std::string serverURL, std::string siteURL);
};

}  // namespace kestrova
