// libFuzzer target: property lists, XML or binary, read from arbitrary bytes. Besides not
// crashing (libplist must never be handed what overflows its stack or memory), a refusal always
// says why, and a value read comes back from the XML Kestrova writes: the same, except that
// XML keeps a date's whole seconds only and a NaN is never equal to itself.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/plist/PlistIO.h"

namespace {

using kestrova::PlistValue;

void check(bool condition) {
    if (!condition) std::abort();
}

bool same(const PlistValue& a, const PlistValue& b);

bool sameEntry(const PlistValue::Dictionary::value_type& a,
               const PlistValue::Dictionary::value_type& b) {
    return a.first == b.first && same(a.second, b.second);
}

bool same(const PlistValue& a, const PlistValue& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
        case PlistValue::Type::Real: {
            const double x = *a.asReal();
            const double y = *b.asReal();
            return x == y || (std::isnan(x) && std::isnan(y));
        }
        case PlistValue::Type::Date:
            return std::fabs(a.asDate()->secondsSince1970 - b.asDate()->secondsSince1970) <= 1.0;
        case PlistValue::Type::Array:
            return std::equal(a.asArray()->begin(), a.asArray()->end(), b.asArray()->begin(),
                              b.asArray()->end(), same);
        case PlistValue::Type::Dictionary:
            return std::equal(a.asDictionary()->begin(), a.asDictionary()->end(),
                              b.asDictionary()->begin(), b.asDictionary()->end(), sameEntry);
        default:
            return a == b;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrova::PlistIO;
    std::string error;
    const auto value =
        PlistIO::parse(std::string_view(reinterpret_cast<const char*>(data), size), &error);
    check(value.has_value() == error.empty());
    if (!value) return 0;
    // Only dates beyond 32-bit seconds cannot be written.
    const auto xml = PlistIO::toXml(*value);
    if (!xml) return 0;
    const auto back = PlistIO::parse(*xml, &error);
    if (!back) {
        // Escaping can make the XML outgrow bounds that the binary form kept within.
        check(error.starts_with("larger than") || error == "too many character references");
        return 0;
    }
    check(same(*value, *back));
    return 0;
}
