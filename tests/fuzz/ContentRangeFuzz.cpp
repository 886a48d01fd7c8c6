// libFuzzer target: the Content-Range of a range reply, read from arbitrary bytes. A range read
// always lies within its total, and its text is "bytes first-last/total" in decimal digits
// (leading zeros being the only other way of writing the same numbers).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/net/ContentRange.h"

namespace {

// The text with each number's leading zeros dropped.
std::string withoutLeadingZeros(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool numberStart = out.empty() || out.back() < '0' || out.back() > '9';
        if (numberStart && text[i] == '0' && i + 1 < text.size() && text[i + 1] >= '0' &&
            text[i + 1] <= '9')
            continue;
        out += text[i];
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto range = kestrova::ContentRange::parse(text);
    if (!range) return 0;
    if (range->first < 0 || range->first > range->last || range->last >= range->total) std::abort();
    const std::string digits = "bytes " + std::to_string(range->first) + "-" +
                               std::to_string(range->last) + "/" + std::to_string(range->total);
    if (withoutLeadingZeros(text) != digits) std::abort();
    return 0;
}
