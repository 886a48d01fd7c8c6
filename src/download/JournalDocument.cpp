#include "download/JournalDocument.h"

#include <algorithm>
#include <limits>

#include "platform/net/HttpUrl.h"
#include "platform/plist/PlistIO.h"

namespace kestrova {
namespace {

constexpr std::int64_t kVersion = 1;
constexpr std::size_t kMaxURLBytes = 8192;
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kMaxValidatorBytes = 1024;
constexpr std::size_t kMaxTitleBytes = 4096;
constexpr std::int64_t kMaxLength = std::numeric_limits<std::int64_t>::max() / 4;
constexpr std::string_view kLoadingExtension = ".download";
// A file fetched over 16 connections at most has few holes; the ranges are merged.
constexpr std::size_t kMaxRanges = 64;

bool plainName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxNameBytes && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Sent back as an If-Range header: printable ASCII only, so no line break can add a header.
bool headerSafe(std::string_view text) {
    return text.size() <= kMaxValidatorBytes &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

bool textOk(std::string_view text) {
    return text.size() <= kMaxTitleBytes && text.find('\0') == std::string_view::npos;
}

// The "ranges" of a row ([begin, end] pairs, sorted, apart, within the length), or the reason they
// are refused.
std::optional<std::string> readRanges(const PlistValue* value, JournalEntry& entry) {
    if (value == nullptr) return std::nullopt;
    const PlistValue::Array* items = value->asArray();
    if (items == nullptr || items->size() > kMaxRanges || entry.length < 0) return "bad ranges";
    std::int64_t previousEnd = -1;
    for (const PlistValue& item : *items) {
        const PlistValue::Array* pair = item.asArray();
        if (pair == nullptr || pair->size() != 2) return "bad ranges";
        const auto begin = (*pair)[0].asInteger(), end = (*pair)[1].asInteger();
        if (!begin || !end || *begin <= previousEnd || *end <= *begin || *end > entry.length) {
            return "bad ranges";
        }
        entry.ranges.push_back({*begin, *end});
        previousEnd = *end;
    }
    return std::nullopt;
}

// The row's fields, or the reason it is refused.
std::optional<std::string> readEntry(const PlistValue& row, JournalEntry& entry) {
    if (!row.isDictionary()) return "a row is not a dictionary";
    const auto text = [&](const char* key, std::string& into) {
        const PlistValue* value = row.find(key);
        if (value == nullptr) return true;
        if (!value->isString()) return false;
        into = *value->asString();
        return true;
    };
    const auto number = [&](const char* key, std::int64_t& into) {
        const PlistValue* value = row.find(key);
        if (value == nullptr) return true;
        const std::optional<std::int64_t> i = value->asInteger();
        if (!i) return false;
        into = *i;
        return true;
    };
    std::int64_t inode = 0;
    if (!text("URL", entry.url) || !text("file", entry.file) ||
        !text("validator", entry.validator) || !text("title", entry.title) ||
        !text("episode", entry.episode) || !number("length", entry.length) ||
        !number("kept", entry.kept) || !number("inode", inode)) {
        return "a field of the wrong type";
    }
    if (entry.url.size() > kMaxURLBytes || !HttpUrl::normalize(entry.url)) {
        return "an address that is not http";
    }
    if (!plainName(entry.file)) return "a file name that is not a plain name";
    if (entry.length < -1 || entry.length > kMaxLength || entry.kept < 0 ||
        entry.kept > kMaxLength || (entry.length >= 0 && entry.kept > entry.length) || inode < 0) {
        return "a length out of range";
    }
    entry.inode = static_cast<std::uint64_t>(inode);
    if (!headerSafe(entry.validator)) return "a validator that is not a header value";
    if (!textOk(entry.title) || !textOk(entry.episode) ||
        entry.title.empty() != entry.episode.empty()) {
        return "a title or episode name that is not usable";
    }
    if (entry.automatic() && !entry.file.ends_with(kLoadingExtension)) {
        return "an automatic download's file that is not a .download file";
    }
    return readRanges(row.find("ranges"), entry);
}

}  // namespace

std::optional<std::vector<JournalEntry>> JournalDocument::parse(std::string_view bytes,
                                                                std::string* error) {
    const auto refuse = [&](std::string reason) -> std::optional<std::vector<JournalEntry>> {
        if (error != nullptr) *error = std::move(reason);
        return std::nullopt;
    };
    if (bytes.size() > kMaxBytes)
        return refuse("larger than " + std::to_string(kMaxBytes) + " bytes");
    std::string reason;
    const std::optional<PlistValue> document = PlistIO::parse(bytes, &reason);
    if (!document) return refuse(reason);
    if (!document->isDictionary()) return refuse("not a dictionary");
    const PlistValue* version = document->find("version");
    if (version == nullptr || version->asInteger() != kVersion) return refuse("not version 1");
    const PlistValue* downloads = document->find("downloads");
    if (downloads == nullptr || !downloads->isArray()) return refuse("no list of downloads");
    const PlistValue::Array& rows = *downloads->asArray();
    if (rows.size() > kMaxEntries) {
        return refuse("more than " + std::to_string(kMaxEntries) + " downloads");
    }
    std::vector<JournalEntry> entries;
    entries.reserve(rows.size());
    for (const PlistValue& row : rows) {
        JournalEntry entry;
        if (auto problem = readEntry(row, entry)) return refuse(*problem);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<std::string> JournalDocument::serialize(const std::vector<JournalEntry>& entries) {
    PlistValue::Array rows;
    rows.reserve(entries.size());
    for (const JournalEntry& entry : entries) {
        PlistValue::Dictionary row{
            {"URL", PlistValue::string(entry.url)},
            {"file", PlistValue::string(entry.file)},
            {"length", PlistValue::integer(entry.length)},
            {"kept", PlistValue::integer(entry.kept)},
            {"validator", PlistValue::string(entry.validator)},
            {"inode", PlistValue::integer(static_cast<std::int64_t>(entry.inode))},
        };
        if (!entry.ranges.empty()) {
            PlistValue::Array ranges;
            for (const ByteRange& r : entry.ranges) {
                ranges.push_back(PlistValue::array(
                    {PlistValue::integer(r.begin), PlistValue::integer(r.end)}));
            }
            row.emplace("ranges", PlistValue::array(std::move(ranges)));
        }
        if (entry.automatic()) {
            row.emplace("title", PlistValue::string(entry.title));
            row.emplace("episode", PlistValue::string(entry.episode));
        }
        rows.push_back(PlistValue::dictionary(std::move(row)));
    }
    return PlistIO::toXml(
        PlistValue::dictionary({{"version", PlistValue::integer(kVersion)},
                                {"downloads", PlistValue::array(std::move(rows))}}));
}

}  // namespace kestrova
