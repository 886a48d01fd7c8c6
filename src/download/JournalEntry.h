#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/net/ByteRange.h"

namespace kestrova {

// One unfinished download as the journal keeps it between runs: enough to ask the server for
// the rest of its partial file at the next launch. A manual download's file is in the Downloads
// folder, an automatic one's ("<episode>.download") in the application folder; only the name
// is kept, never a path.
struct JournalEntry {
    std::string url;
    std::string file;          // the partial file's name in its folder
    std::int64_t length = -1;  // the announced length, -1 when none was announced
    std::int64_t kept = 0;     // bytes of the file already written when the row was written
    // Where those bytes are when the file has holes (fetched over several connections); empty
    // when they are the file's first bytes.
    std::vector<ByteRange> ranges{};
    std::string validator;     // of the first response: strong ETag or Last-Modified, or ""
    std::uint64_t inode = 0;   // of the partial file: a file put in its place is not continued
    // An automatic download's title and episode name ("<title> (NN)"); both empty for a manual
    // one.
    std::string title;
    std::string episode;

    bool automatic() const { return !episode.empty(); }
    bool operator==(const JournalEntry&) const = default;
};

}  // namespace kestrova
