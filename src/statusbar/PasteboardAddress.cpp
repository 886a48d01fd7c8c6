#include "statusbar/PasteboardAddress.h"

#include "platform/text/TextUtil.h"

namespace kestrova {

bool PasteboardAddress::isDownloadable(std::string_view text) {
    const bool http =
        TextUtil::startsWith(text, "http://") || TextUtil::startsWith(text, "https://");
    return http && text.size() <= kMaxBytes && !TextUtil::contains(text, "\n");
}

}  // namespace kestrova
