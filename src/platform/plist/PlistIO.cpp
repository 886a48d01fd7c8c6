#include "platform/plist/PlistIO.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <system_error>

#include "platform/plist/PlistBounds.h"
#include "platform/system/Files.h"

namespace kestrova {
namespace {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using CPtr = std::unique_ptr<T, FreeDeleter>;

// Property lists count seconds from 2001-01-01; PlistValue counts from 1970-01-01.
constexpr double kAppleEpochOffset = 978307200.0;
// PlistBounds refuses deeper documents before libplist reads them; the conversion checks again so
// that it can never recurse further, whatever libplist builds.
constexpr int kMaxDepth = PlistBounds::kMaxDepth;

std::optional<PlistValue> fromNode(plist_t node, int depth);

// Walks the items with libplist's iterator: indexed access counts from the first item on every
// call in arrays read from binary documents, which made large arrays quadratic.
std::optional<PlistValue> fromArray(plist_t node, int depth) {
    PlistValue::Array items;
    items.reserve(plist_array_get_size(node));
    plist_array_iter raw = nullptr;
    plist_array_new_iter(node, &raw);
    CPtr<void> iter(raw);
    if (!iter) return std::nullopt;
    for (;;) {
        plist_t child = nullptr;
        plist_array_next_item(node, iter.get(), &child);
        if (child == nullptr) break;
        auto item = fromNode(child, depth + 1);
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
    }
    return PlistValue::array(std::move(items));
}

std::optional<PlistValue> fromDictionary(plist_t node, int depth) {
    PlistValue::Dictionary entries;
    plist_dict_iter raw = nullptr;
    plist_dict_new_iter(node, &raw);
    CPtr<void> iter(raw);
    if (!iter) return std::nullopt;
    for (;;) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, iter.get(), &rawKey, &value);
        CPtr<char> key(rawKey);
        if (!key || value == nullptr) break;
        auto converted = fromNode(value, depth + 1);
        if (!converted) return std::nullopt;
        entries.insert_or_assign(std::string(key.get()), std::move(*converted));
    }
    return PlistValue::dictionary(std::move(entries));
}

std::optional<PlistValue> fromNode(plist_t node, int depth) {
    if (node == nullptr || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return PlistValue::boolean(b != 0);
        }
        case PLIST_UINT: {
            // libplist keeps integers as 64 unsigned bits; negative values are stored in two's
            // complement, so reading them back as signed restores them.
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            return PlistValue::integer(static_cast<int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return PlistValue::real(d);
        }
        case PLIST_STRING: {
            char* raw = nullptr;
            plist_get_string_val(node, &raw);
            CPtr<char> s(raw);
            return PlistValue::string(s ? std::string(s.get()) : std::string());
        }
        case PLIST_DATE: {
            int32_t sec = 0;
            int32_t usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return PlistValue::date({static_cast<double>(sec) + usec / 1e6 + kAppleEpochOffset});
        }
        case PLIST_DATA: {
            char* raw = nullptr;
            uint64_t length = 0;
            plist_get_data_val(node, &raw, &length);
            CPtr<char> bytes(raw);
            const auto* begin = reinterpret_cast<const uint8_t*>(bytes.get());
            return PlistValue::data(bytes ? PlistValue::Data(begin, begin + length)
                                          : PlistValue::Data());
        }
        case PLIST_ARRAY:
            return fromArray(node, depth);
        case PLIST_DICT:
            return fromDictionary(node, depth);
        default:
            return std::nullopt;
    }
}

PlistPtr toNode(const PlistValue& value, int depth) {
    if (depth > kMaxDepth) return nullptr;
    switch (value.type()) {
        case PlistValue::Type::None:
            return nullptr;
        case PlistValue::Type::String:
            return PlistPtr(plist_new_string(value.asString()->c_str()));
        case PlistValue::Type::Integer:
            return PlistPtr(plist_new_uint(static_cast<uint64_t>(*value.asInteger())));
        case PlistValue::Type::Real:
            return PlistPtr(plist_new_real(*value.asReal()));
        case PlistValue::Type::Boolean:
            return PlistPtr(plist_new_bool(*value.asBoolean() ? 1 : 0));
        case PlistValue::Type::Date: {
            const double apple = value.asDate()->secondsSince1970 - kAppleEpochOffset;
            const double whole = std::floor(apple);
            if (!(whole >= std::numeric_limits<int32_t>::min() &&
                  whole <= std::numeric_limits<int32_t>::max())) {
                return nullptr;
            }
            const auto usec = static_cast<int32_t>(std::lround((apple - whole) * 1e6));
            return PlistPtr(plist_new_date(static_cast<int32_t>(whole), usec));
        }
        case PlistValue::Type::Data: {
            const auto& bytes = *value.asData();
            return PlistPtr(
                plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }
        case PlistValue::Type::Array: {
            PlistPtr array(plist_new_array());
            for (const auto& item : *value.asArray()) {
                PlistPtr child = toNode(item, depth + 1);
                if (!child) return nullptr;
                plist_array_append_item(array.get(), child.release());
            }
            return array;
        }
        case PlistValue::Type::Dictionary: {
            PlistPtr dict(plist_new_dict());
            for (const auto& [key, item] : *value.asDictionary()) {
                PlistPtr child = toNode(item, depth + 1);
                if (!child) return nullptr;
                plist_dict_set_item(dict.get(), key.c_str(), child.release());
            }
            return dict;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<PlistValue> PlistIO::parse(std::string_view bytes, std::string* error) {
    auto refuse = [error](std::string reason) -> std::optional<PlistValue> {
        if (error) *error = std::move(reason);
        return std::nullopt;
    };
    // libplist never sees a document outside the bounds, which also keeps its length within
    // the 32 bits it takes.
    if (auto why = PlistBounds::refusal(bytes)) return refuse(std::move(*why));
    plist_t raw = nullptr;
    const auto length = static_cast<uint32_t>(bytes.size());
    // libplist 2.2's readers return nothing; an empty result pointer is the only failure signal.
    if (PlistBounds::isBinary(bytes)) {
        plist_from_bin(bytes.data(), length, &raw);
    } else {
        plist_from_xml(bytes.data(), length, &raw);
    }
    PlistPtr root(raw);
    if (!root) return refuse("not a property list");
    auto value = fromNode(root.get(), 0);
    if (!value) return refuse("holds a value of a type Kestrova does not read");
    return value;
}

std::optional<PlistValue> PlistIO::readFile(const std::filesystem::path& path, std::string* error) {
    const Files::ReadResult read = Files::readRegularFile(path, kMaxDocumentBytes);
    if (!read.bytes) {
        if (error != nullptr)
            *error = std::error_code(read.error, std::generic_category()).message();
        return std::nullopt;
    }
    return parse(*read.bytes, error);
}

std::optional<std::string> PlistIO::toXml(const PlistValue& value) {
    PlistPtr root = toNode(value, 0);
    if (!root) return std::nullopt;
    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &raw, &length);
    std::unique_ptr<char, decltype(&plist_to_xml_free)> xml(raw, &plist_to_xml_free);
    if (!xml) return std::nullopt;
    return std::string(xml.get(), length);
}

}  // namespace kestrova
