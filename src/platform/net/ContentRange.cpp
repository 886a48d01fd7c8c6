#include "platform/net/ContentRange.h"

namespace kestrova {
namespace {

constexpr std::size_t kMaxDigits = 18;

// The number at the front of text up to the stop character, which is consumed with it.
std::optional<std::int64_t> number(std::string_view& text, char stop) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        if (digits == kMaxDigits) return std::nullopt;
        value = value * 10 + (text[digits++] - '0');
    }
    if (digits == 0) return std::nullopt;
    text.remove_prefix(digits);
    if (stop != '\0') {
        if (text.empty() || text.front() != stop) return std::nullopt;
        text.remove_prefix(1);
    }
    return value;
}

}  // namespace

std::optional<ContentRange> ContentRange::parse(std::string_view text) {
    constexpr std::string_view kUnit = "bytes ";
    if (!text.starts_with(kUnit)) return std::nullopt;
    text.remove_prefix(kUnit.size());
    const auto first = number(text, '-');
    const auto last = first ? number(text, '/') : std::nullopt;
    const auto total = last ? number(text, '\0') : std::nullopt;
    if (!total || !text.empty() || *first > *last || *last >= *total) return std::nullopt;
    return ContentRange{*first, *last, *total};
}

}  // namespace kestrova
