#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "platform/plist/PlistValue.h"

namespace kestrova {

class Cancellation;

// Blocking fetches of a page as UTF-8 text, or of a property list whose root is an array. They
// never block for ever: connection timeout 10 s, whole fetch at most 60 s, and a thrown
// Cancellation ends them at once. A body above 32 MiB, an HTTP status of 400 or above, bytes
// that are not UTF-8, a URL that is not http or https (redirects included), a list that is
// unreadable or over the reading bounds: each counts as nothing fetched.
class PageFetch {
public:
    struct Limits {
        std::chrono::milliseconds connectTimeout{10'000};
        std::chrono::milliseconds totalTimeout{60'000};
        std::size_t maxBytes = 32u * 1024u * 1024u;
    };

    static std::optional<std::string> fetchText(const std::string& url, Cancellation& cancellation,
                                                const Limits& limits);
    static std::optional<std::string> fetchText(const std::string& url,
                                                Cancellation& cancellation) {
        return fetchText(url, cancellation, Limits());
    }
    // error, when given, receives why a document that arrived was refused.
    static std::optional<PlistValue> fetchPropertyListArray(const std::string& url,
                                                            Cancellation& cancellation,
                                                            std::string* error,
                                                            const Limits& limits);
    static std::optional<PlistValue> fetchPropertyListArray(const std::string& url,
                                                            Cancellation& cancellation,
                                                            std::string* error = nullptr) {
        return fetchPropertyListArray(url, cancellation, error, Limits());
    }
};

}  // namespace kestrova
