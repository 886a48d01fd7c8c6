#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "platform/PlistValue.h"

namespace kestrova {

// Synchronous fetches for the main thread: a page as UTF-8 text, or a property list whose root
// is an array. They block, but never for ever: connection timeout 10 s, whole fetch at most
// 60 s. A body above 32 MiB, an HTTP status of 400 or above, bytes that are not UTF-8, a URL
// that is not http or https (redirects included): each counts as nothing fetched.
class PageFetch {
public:
    struct Limits {
        std::chrono::milliseconds connectTimeout{10'000};
        std::chrono::milliseconds totalTimeout{60'000};
        std::size_t maxBytes = 32u * 1024u * 1024u;
    };

    static std::optional<std::string> fetchText(const std::string& url, const Limits& limits);
    static std::optional<std::string> fetchText(const std::string& url) {
        return fetchText(url, Limits());
    }
    static std::optional<PlistValue> fetchPropertyListArray(const std::string& url,
                                                            const Limits& limits);
    static std::optional<PlistValue> fetchPropertyListArray(const std::string& url) {
        return fetchPropertyListArray(url, Limits());
    }
};

}  // namespace kestrova
