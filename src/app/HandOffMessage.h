#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The messages of the hand-off channel between `kestrova URL…` / `kestrova --status` and the
// running Kestrova: a header line, then (to open) one address per line.
//   KESTROVA 1 OPEN\nhttp://a/x.mp4\nhttp://b/y.zip\n        -> OK 2\n  or  ERROR <reason>\n
//   KESTROVA 1 STATUS\n                                       -> one line per download
// The bytes come from another process of the user: a message is checked whole (size, lines,
// each address by the clipboard's rule) before anything is built from it.
struct HandOffMessage {
    static constexpr std::size_t kMaxBytes = 64 * 1024;
    static constexpr std::size_t kMaxAddresses = 100;

    enum class Kind { Open, Status };
    Kind kind = Kind::Status;
    std::vector<std::string> addresses;

    static std::string open(const std::vector<std::string>& addresses);
    static std::string status();
    // The message, or nothing with the reason in error.
    static std::optional<HandOffMessage> parse(std::string_view bytes, std::string& error);
};

}  // namespace kestrova
