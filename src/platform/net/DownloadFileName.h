#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

// The name a downloaded file is stored under, worked out from what the server sends: the
// Content-Disposition file name ("filename*=UTF-8''..." preferred over "filename="), else the
// last path component of the final URL, percent-decoded, else "download".
//
// Whatever the server sends, the result is a plain file name: a base name only (never holding
// "/" or NUL, never "", "." or ".."), UTF-8, at most 255 bytes (a longer one is shortened
// keeping its extension and whole characters). Joined to a folder it never leaves that folder.
class DownloadFileName {
public:
    static constexpr std::size_t kMaxBytes = 255;
    static constexpr const char* kFallback = "download";

    static std::string suggested(std::string_view contentDisposition, std::string_view finalUrl);
    // name made safe as above; "" when nothing usable is left.
    static std::string safe(std::string_view name);
    // name cut to at most maxBytes, keeping its extension and whole UTF-8 characters.
    static std::string shortened(std::string_view name, std::size_t maxBytes = kMaxBytes);
    // The n-th other name for a taken one, in the style of the desktop's browsers:
    // "clip.mp4" -> "clip (1).mp4"; at most kMaxBytes long.
    static std::string numbered(std::string_view name, int n);
    // The file name a Content-Disposition header value holds, unchecked; nothing when none.
    static std::optional<std::string> fromContentDisposition(std::string_view value);

private:
    static std::optional<std::string> decodeExtendedValue(std::string_view value);
};

}  // namespace kestrova
