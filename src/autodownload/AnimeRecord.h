#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/plist/PlistValue.h"

namespace kestrova {

// The rules of one anime record of the download list: a dictionary with a text "title", an
// optional list of texts "keyword", and "status", "lock", "time". Lists come from the maker's
// server and from stored settings, so every reader checks a record before trusting it.
class AnimeRecord {
public:
    // Why the record cannot be used, or nothing when it can. A record must be a dictionary
    // with a text "title"; "keyword", when present, a list of texts; and it must not carry
    // "URL" or "file", which would override a download request's own.
    static std::optional<std::string> problem(const PlistValue& record);
    // The boolean false in "status" (an integer 0 is not false): the user does not follow it.
    static bool isSwitchedOff(const PlistValue& record);
    // The "keyword" texts in order; none when absent. Only for records without a problem().
    static std::vector<std::string_view> keywords(const PlistValue& record);
    // A title the episode files can be named after: no NUL, which would cut the name ("/" is
    // shown as "／" in file names).
    static bool isFileNameSafe(std::string_view title);
};

}  // namespace kestrova
