#pragma once

#include <string>

namespace kestrova {

class DemoSite;

// What the demo site serves: one followed title whose episode is in the ranking, offered by three
// sources that show the racing rules (one too small for the title's size mark, one slow, one
// good), the release page, and a sample file for trying a clipboard download.
class DemoContent {
public:
    static constexpr const char* kTitle = "ヒカリノサキ";
    static constexpr const char* kEpisodeName = "ヒカリノサキ (05)";

    // Fills the site; answers the sample file's address.
    static std::string install(DemoSite& site);
};

}  // namespace kestrova
