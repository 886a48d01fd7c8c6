#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

// The release page on the maker's server, which announces the newest version of Kestrova in a
// line such as
//   <li>バージョン：1.2.3 <span style="color: red;">beta</span></li>
// (the beta element is optional; tabs anywhere are ignored; the line must begin with "<li>").
class ReleasePage {
public:
    // "/file/Kestrova/" on the given server base (no trailing "/").
    static std::string address(std::string_view serverURL);
    // The version of the first version line, or nothing when the page has no version line or
    // its version is empty. Lines end at "\n"; a "\r" before it is no part of the version.
    static std::optional<std::string> version(std::string_view page);
};

}  // namespace kestrova
