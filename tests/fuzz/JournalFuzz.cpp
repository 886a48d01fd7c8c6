// libFuzzer target: the journal of unfinished downloads, read at every launch from a file anyone
// with the user's rights may have changed. Besides not crashing, a refusal says why, accepted
// rows are within their bounds (a plain file name, no header line in the validator), and rows
// written again read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "download/JournalDocument.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrova::JournalDocument;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto entries = JournalDocument::parse(bytes, &error);
    if (!entries) {
        check(!error.empty());
        return 0;
    }
    check(entries->size() <= JournalDocument::kMaxEntries);
    for (const auto& entry : *entries) {
        check(!entry.file.empty() && entry.file.find('/') == std::string::npos);
        check(entry.validator.find_first_of("\r\n") == std::string::npos);
        check(entry.length < 0 || entry.kept <= entry.length);
    }
    const auto written = JournalDocument::serialize(*entries);
    check(written.has_value());
    const auto again = JournalDocument::parse(*written, &error);
    check(again && *again == *entries);
    return 0;
}
