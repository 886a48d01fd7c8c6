#pragma once

#include <string>

namespace kestrova {

// Opens web pages in the user's browser.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual bool openURL(const std::string& url) = 0;
};

}  // namespace kestrova
