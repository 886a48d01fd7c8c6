#include "platform/net/DownloadFileName.h"

#include <algorithm>
#include <cctype>

#include "platform/net/HttpUrl.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

// Extensions longer than this are not kept when a name is shortened: such a "extension" is
// most of the name.
constexpr std::size_t kMaxExtension = 32;

std::string lowercase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Header values without a declared charset are often ISO-8859-1; such bytes are turned into
// UTF-8 rather than dropped.
std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// Where the extension begins ("." included); npos when the name has none worth keeping.
std::size_t extensionStart(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxExtension) {
        return std::string_view::npos;
    }
    return dot;
}

}  // namespace

std::string DownloadFileName::suggested(std::string_view contentDisposition,
                                        std::string_view finalUrl) {
    if (auto fromHeader = fromContentDisposition(contentDisposition)) {
        std::string name = safe(*fromHeader);
        if (!name.empty()) return name;
    }
    std::string name = safe(HttpUrl::lastPathComponent(finalUrl));
    return name.empty() ? kFallback : name;
}

std::string DownloadFileName::safe(std::string_view name) {
    std::string text(name);
    std::erase(text, '\0');
    const std::size_t slash = text.rfind('/');
    if (slash != std::string::npos) text.erase(0, slash + 1);
    if (text.empty() || text == "." || text == "..") return {};
    if (!TextUtil::isValidUtf8(text)) text = latin1ToUtf8(text);
    return shortened(text);
}

std::string DownloadFileName::shortened(std::string_view name, std::size_t maxBytes) {
    if (name.size() <= maxBytes) return std::string(name);
    std::size_t dot = extensionStart(name);
    // An extension that leaves no room for the stem is not kept.
    if (dot != std::string_view::npos && name.size() - dot >= maxBytes) {
        dot = std::string_view::npos;
    }
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : name.substr(dot);
    const std::string_view stem = name.substr(0, dot == std::string_view::npos ? name.size() : dot);
    return std::string(TextUtil::utf8Prefix(stem, maxBytes - extension.size())) +
           std::string(extension);
}

std::string DownloadFileName::numbered(std::string_view name, int n) {
    const std::size_t dot = extensionStart(name);
    const std::string_view stem = name.substr(0, dot == std::string_view::npos ? name.size() : dot);
    const std::string suffix = " (" + std::to_string(n) + ")" +
                               std::string(dot == std::string_view::npos ? "" : name.substr(dot));
    if (suffix.size() >= kMaxBytes) return std::string(name);
    return std::string(TextUtil::utf8Prefix(stem, kMaxBytes - suffix.size())) + suffix;
}

std::optional<std::string> DownloadFileName::fromContentDisposition(std::string_view value) {
    std::optional<std::string> plain;
    std::optional<std::string> extended;
    std::size_t i = 0;
    while (i < value.size()) {
        // One parameter: name, optionally "=" and a token or a quoted string, up to ";".
        const std::size_t nameEnd = value.find_first_of("=;", i);
        const std::string key = lowercase(trim(value.substr(i, nameEnd - i)));
        if (nameEnd == std::string_view::npos) break;
        i = nameEnd + 1;
        if (value[nameEnd] == ';') continue;
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
        std::string parameter;
        if (i < value.size() && value[i] == '"') {
            for (++i; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) ++i;
                parameter.push_back(value[i]);
            }
            i = std::min(value.size(), value.find(';', i));
            if (i < value.size()) ++i;
        } else {
            const std::size_t end = std::min(value.size(), value.find(';', i));
            parameter = std::string(trim(value.substr(i, end - i)));
            i = end < value.size() ? end + 1 : end;
        }
        if (key == "filename*") {
            if (auto decoded = decodeExtendedValue(parameter)) extended = std::move(decoded);
        } else if (key == "filename") {
            plain = std::move(parameter);
        }
    }
    return extended ? extended : plain;
}

// charset'language'percent-encoded-text, with the charsets UTF-8 and ISO-8859-1.
std::optional<std::string> DownloadFileName::decodeExtendedValue(std::string_view value) {
    const std::size_t first = value.find('\'');
    if (first == std::string_view::npos) return std::nullopt;
    const std::size_t second = value.find('\'', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const std::string charset = lowercase(value.substr(0, first));
    const std::string_view encoded = value.substr(second + 1);
    if (charset == "utf-8") return TextUtil::percentDecodeUtf8(encoded);
    if (charset != "iso-8859-1") return std::nullopt;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string bytes;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const bool escape = encoded[i] == '%' && i + 2 < encoded.size() &&
                            hex(encoded[i + 1]) >= 0 && hex(encoded[i + 2]) >= 0;
        if (escape) {
            bytes.push_back(static_cast<char>(hex(encoded[i + 1]) * 16 + hex(encoded[i + 2])));
            i += 2;
        } else {
            bytes.push_back(encoded[i]);
        }
    }
    return latin1ToUtf8(bytes);
}

}  // namespace kestrova
