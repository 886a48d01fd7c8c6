#include "platform/plist/PlistValue.h"

namespace kestrova {

PlistValue PlistValue::string(std::string text) {
    return PlistValue(std::in_place_type<std::string>, std::move(text));
}
PlistValue PlistValue::integer(std::int64_t value) {
    return PlistValue(std::in_place_type<std::int64_t>, value);
}
PlistValue PlistValue::real(double value) { return PlistValue(std::in_place_type<double>, value); }
PlistValue PlistValue::boolean(bool value) { return PlistValue(std::in_place_type<bool>, value); }
PlistValue PlistValue::date(Date value) { return PlistValue(std::in_place_type<Date>, value); }
PlistValue PlistValue::data(Data bytes) {
    return PlistValue(std::in_place_type<Data>, std::move(bytes));
}
PlistValue PlistValue::array(Array items) {
    return PlistValue(std::in_place_type<Array>, std::move(items));
}
PlistValue PlistValue::dictionary(Dictionary entries) {
    return PlistValue(std::in_place_type<Dictionary>, std::move(entries));
}

PlistValue::Type PlistValue::type() const { return static_cast<Type>(value_.index()); }

bool PlistValue::isTrue() const {
    const bool* b = std::get_if<bool>(&value_);
    return b != nullptr && *b;
}

bool PlistValue::isFalse() const {
    const bool* b = std::get_if<bool>(&value_);
    return b != nullptr && !*b;
}

const std::string* PlistValue::asString() const { return std::get_if<std::string>(&value_); }

std::optional<std::int64_t> PlistValue::asInteger() const {
    if (const auto* i = std::get_if<std::int64_t>(&value_)) return *i;
    return std::nullopt;
}

std::optional<double> PlistValue::asReal() const {
    if (const auto* d = std::get_if<double>(&value_)) return *d;
    return std::nullopt;
}

std::optional<bool> PlistValue::asBoolean() const {
    if (const auto* b = std::get_if<bool>(&value_)) return *b;
    return std::nullopt;
}

std::optional<PlistValue::Date> PlistValue::asDate() const {
    if (const auto* d = std::get_if<Date>(&value_)) return *d;
    return std::nullopt;
}

const PlistValue::Data* PlistValue::asData() const { return std::get_if<Data>(&value_); }
const PlistValue::Array* PlistValue::asArray() const { return std::get_if<Array>(&value_); }
PlistValue::Array* PlistValue::asArray() { return std::get_if<Array>(&value_); }
const PlistValue::Dictionary* PlistValue::asDictionary() const {
    return std::get_if<Dictionary>(&value_);
}
PlistValue::Dictionary* PlistValue::asDictionary() { return std::get_if<Dictionary>(&value_); }

const PlistValue* PlistValue::find(const std::string& key) const {
    const Dictionary* dict = asDictionary();
    if (dict == nullptr) return nullptr;
    auto it = dict->find(key);
    return it == dict->end() ? nullptr : &it->second;
}

std::string PlistValue::stringFor(const std::string& key) const {
    const PlistValue* v = find(key);
    const std::string* s = v != nullptr ? v->asString() : nullptr;
    return s != nullptr ? *s : std::string();
}

}  // namespace kestrova
