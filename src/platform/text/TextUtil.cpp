#include "platform/text/TextUtil.h"

#include <cstdio>
#include <iterator>
#include <limits>

namespace kestrova {

std::int32_t TextUtil::leadingInteger(std::string_view text) {
    std::size_t i = 0;
    auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        // Once beyond the 32-bit range further digits cannot bring the value back.
        if (value <= kMax + 1) value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value > kMax) return static_cast<std::int32_t>(kMax);
    if (value < kMin) return static_cast<std::int32_t>(kMin);
    return static_cast<std::int32_t>(value);
}

std::vector<std::string> TextUtil::split(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

std::string TextUtil::replaceAll(std::string_view text, std::string_view from,
                                 std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(from, start);
        if (at == std::string_view::npos) break;
        out.append(text.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(text.substr(start));
    return out;
}

bool TextUtil::startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool TextUtil::endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool TextUtil::contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::optional<std::string> TextUtil::percentDecodeUtf8(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = hex(text[i + 1]);
        const int lo = hex(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    if (!isValidUtf8(out)) return std::nullopt;
    return out;
}

std::string TextUtil::byteAmount(std::int64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1lf %s", value, kUnits[unit]);
    return text;
}

bool TextUtil::isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
        static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string_view TextUtil::utf8Prefix(std::string_view text, std::size_t maxBytes) {
    if (maxBytes >= text.size()) return text;
    std::size_t cut = maxBytes;
    // Continuation bytes (10xxxxxx) belong to the character that began before them.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

}  // namespace kestrova

namespace kestrova {
namespace {

// The length of the well-formed UTF-8 character at the start of text; 0 when it is none.
std::size_t utf8Length(std::string_view text) {
    const auto c = static_cast<unsigned char>(text[0]);
    const std::size_t length = c < 0x80             ? 1
                               : (c & 0xE0) == 0xC0 ? 2
                               : (c & 0xF0) == 0xE0 ? 3
                               : (c & 0xF8) == 0xF0 ? 4
                                                    : 0;
    if (length == 0 || length > text.size()) return 0;
    return TextUtil::isValidUtf8(text.substr(0, length)) ? length : 0;
}

// The escape for the character at the start of text (of the given length; 0: a stray byte),
// or "" when it may stand as it is.
std::string escapeFor(std::string_view text, std::size_t length) {
    static constexpr char kHex[] = "0123456789abcdef";
    const auto c = static_cast<unsigned char>(text[0]);
    if (length == 1 && c >= 0x20 && c != 0x7f) return {};
    if (length == 1 && c == '\n') return "\\n";
    if (length == 1 && c == '\r') return "\\r";
    if (length == 1 && c == '\t') return "\\t";
    if (length <= 1) return std::string("\\x") + kHex[c >> 4] + kHex[c & 0x0f];
    const auto c1 = static_cast<unsigned char>(text[1]);
    const bool c1Control = length == 2 && c == 0xC2 && c1 < 0xA0;  // U+0080 to U+009F
    const bool separator = length == 3 && c == 0xE2 && c1 == 0x80 &&
                           (text[2] == '\xA8' || text[2] == '\xA9');  // U+2028, U+2029
    if (c1Control) return std::string("\\u00") + kHex[(c1 >> 4) & 0x0f] + kHex[c1 & 0x0f];
    if (separator) return text[2] == '\xA8' ? "\\u2028" : "\\u2029";
    return {};
}

// Escapes text into at most maxBytes (never splitting a character or an escape); answers
// whether all of it fitted.
bool appendEscaped(std::string& out, std::string_view text, std::size_t maxBytes) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = utf8Length(text.substr(i));
        const std::string escape = escapeFor(text.substr(i), length);
        const std::string_view piece =
            escape.empty() ? text.substr(i, length) : std::string_view(escape);
        if (out.size() + piece.size() > maxBytes) return false;
        out.append(piece);
        i += length == 0 ? 1 : length;
    }
    return true;
}

}  // namespace

std::string TextUtil::escapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text, std::string::npos);
    return out;
}

std::string TextUtil::forLog(std::string_view value, std::size_t maxBytes) {
    std::string out;
    if (!appendEscaped(out, value, maxBytes)) out += "…";
    return out;
}

}  // namespace kestrova
