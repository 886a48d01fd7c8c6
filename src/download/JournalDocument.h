#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/JournalEntry.h"

namespace kestrova {

// The journal's file format: an XML property list {"version": 1, "downloads": [row, ...]}, each
// row a dictionary of a JournalEntry's fields. The file is read at every launch and may have been
// changed by anyone who can write the user's files, so parse() checks the size, the row count
// and every field (an address that is http(s), a plain file name, lengths in range, a validator
// that cannot smuggle a header line) before it answers anything; one bad row refuses the whole
// document.
class JournalDocument {
public:
    static constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;
    // Far above what can run at once (100 downloads, each with one partial file).
    static constexpr std::size_t kMaxEntries = 256;

    // The rows, or nothing with the reason in *error.
    static std::optional<std::vector<JournalEntry>> parse(std::string_view bytes,
                                                          std::string* error);
    static std::optional<std::string> serialize(const std::vector<JournalEntry>& entries);
};

}  // namespace kestrova
