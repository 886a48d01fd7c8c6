#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrova {

// One property-list value: string, integer, real, boolean, date, data, array or dictionary, or
// "none" (an absent value, used where a notification carries no object).
//
// Values are plain copies; a receiver that keeps one owns it. A boolean is never equal to an
// integer, which is how the lists tell "status" true from the number 1. Arrays and dictionaries
// compare deeply.
class PlistValue {
public:
    using Array = std::vector<PlistValue>;
    using Dictionary = std::map<std::string, PlistValue>;
    using Data = std::vector<std::uint8_t>;
    struct Date {
        double secondsSince1970 = 0;
        bool operator==(const Date&) const = default;
    };
    enum class Type { None, String, Integer, Real, Boolean, Date, Data, Array, Dictionary };

    PlistValue() = default;
    static PlistValue string(std::string text);
    static PlistValue integer(std::int64_t value);
    static PlistValue real(double value);
    static PlistValue boolean(bool value);
    static PlistValue date(Date value);
    static PlistValue data(Data bytes);
    static PlistValue array(Array items = {});
    static PlistValue dictionary(Dictionary entries = {});

    Type type() const;
    bool isNone() const { return type() == Type::None; }
    bool isString() const { return type() == Type::String; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isBoolean() const { return type() == Type::Boolean; }
    // Only the boolean true / false; a number 1 or 0 is neither.
    bool isTrue() const;
    bool isFalse() const;

    // Typed access: nullptr / nullopt when the value is of another type.
    const std::string* asString() const;
    std::optional<std::int64_t> asInteger() const;
    std::optional<double> asReal() const;
    std::optional<bool> asBoolean() const;
    std::optional<Date> asDate() const;
    const Data* asData() const;
    const Array* asArray() const;
    Array* asArray();
    const Dictionary* asDictionary() const;
    Dictionary* asDictionary();

    // Dictionary lookup; nullptr when this is no dictionary or the key is absent.
    const PlistValue* find(const std::string& key) const;
    // The string stored under key, or "" when absent or not a string.
    std::string stringFor(const std::string& key) const;

    bool operator==(const PlistValue& other) const = default;

private:
    using Storage = std::variant<std::monostate, std::string, std::int64_t, double, bool, Date,
                                 Data, Array, Dictionary>;
    // The value is made in place: a temporary variant moved in here made GCC 12 warn of
    // uninitialized members in that temporary's destructor at -O3.
    template <typename T>
    PlistValue(std::in_place_type_t<T> type, T value) : value_(type, std::move(value)) {}
    Storage value_;
};

}  // namespace kestrova
