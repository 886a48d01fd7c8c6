#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The text operations every part of Kestrova uses: exact, case-sensitive, byte-wise on UTF-8.
class TextUtil {
public:
    // Skips leading white space, takes an optional sign and decimal digits; 0 when there is no
    // digit; clamped to the signed 32-bit range. "05)" -> 5, "5話" -> 5, "abc" -> 0.
    static std::int32_t leadingInteger(std::string_view text);
    // Splits at every occurrence of separator; n occurrences give n + 1 pieces, empty ones kept.
    static std::vector<std::string> split(std::string_view text, std::string_view separator);
    static std::string replaceAll(std::string_view text, std::string_view from,
                                  std::string_view to);
    static bool startsWith(std::string_view text, std::string_view prefix);
    static bool endsWith(std::string_view text, std::string_view suffix);
    static bool contains(std::string_view text, std::string_view part);
    // Decodes %XX escapes; nullopt when an escape is malformed or the result is not UTF-8.
    static std::optional<std::string> percentDecodeUtf8(std::string_view text);
    static bool isValidUtf8(std::string_view text);
    // A byte count for people: "512 B", "12.3 MB", "1.5 GB" (binary units).
    static std::string byteAmount(std::int64_t bytes);

    // A text fit for one log line: line feeds, other control characters (C0, DEL, C1, the
    // Unicode line and paragraph separators) and bytes that are not UTF-8 are shown as escapes
    // ("\n", "\x1b", "\u2028"), so that no value can begin a line of its own.
    static std::string escapeControls(std::string_view text);
    // A value from outside (a title, a keyword, an address) as it goes into a log line:
    // escaped as above and, when longer than maxBytes, cut at a character boundary with "…".
    static std::string forLog(std::string_view value, std::size_t maxBytes = kMaxLoggedValue);
    static constexpr std::size_t kMaxLoggedValue = 1024;
    // The longest start of text of at most maxBytes that does not split a UTF-8 sequence.
    static std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);
};

}  // namespace kestrova
