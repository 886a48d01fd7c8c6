#pragma once

#include <cstddef>
#include <string_view>

namespace kestrova {

// What the clipboard must hold for the download command: one line that begins with "http://" or
// "https://", exactly as written (no leading blank skipped, capitals do not count; a carriage
// return is allowed, a line feed is not), and no longer than any real address. Both the
// clipboard watcher and the command itself apply it.
class PasteboardAddress {
public:
    static constexpr std::size_t kMaxBytes = 64 * 1024;

    static bool isDownloadable(std::string_view text);
};

}  // namespace kestrova
