#include "statusbar/ReleasePage.h"

#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

constexpr std::string_view kMarker = "<li>バージョン：";
constexpr std::string_view kBeta = " <span style=\"color: red;\">beta</span>";
constexpr std::string_view kEnd = "</li>";

}  // namespace

std::string ReleasePage::address(std::string_view serverURL) {
    return std::string(serverURL) + "/file/Kestrova/";
}

std::optional<std::string> ReleasePage::version(std::string_view page) {
    const std::string text = TextUtil::replaceAll(page, "\t", "");
    for (std::string& line : TextUtil::split(text, "\n")) {
        // Pages written with CR LF line ends.
        if (TextUtil::endsWith(line, "\r")) line.pop_back();
        if (!TextUtil::startsWith(line, kMarker)) continue;
        std::string found = TextUtil::replaceAll(line, kMarker, "");
        found = TextUtil::replaceAll(found, kBeta, "");
        found = TextUtil::replaceAll(found, kEnd, "");
        // Only the first version line counts, even when it names no version.
        if (found.empty()) return std::nullopt;
        return found;
    }
    return std::nullopt;
}

}  // namespace kestrova
