#pragma once
// Property lists: one variant value type, read from XML or binary form, written as
// XML (files people read) or binary (messages). libplist does the parsing.

#include "Platform/Export.hpp"
#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

// Dates keep whole seconds, as the XML form does: the list library misreads the
// fraction of a binary date before 2001, so a fraction would not survive a round trip.
struct PLATFORM_EXPORT PropertyDate {
    double secondsSince1970 = 0;
    bool operator==(const PropertyDate&) const = default;
};

using PropertyData = std::vector<std::uint8_t>;

struct PropertyValue;
using PropertyArray = std::vector<PropertyValue>;
using PropertyDictionary = std::map<std::string, PropertyValue>;

struct PLATFORM_EXPORT PropertyValue {
    using Storage = std::variant<std::string, std::int64_t, double, bool, PropertyDate, PropertyData,
                                 PropertyArray, PropertyDictionary>;

    PropertyValue() : storage(PropertyDictionary{}) {}
    PropertyValue(std::string text) : storage(std::move(text)) {}
    PropertyValue(const char* text) : storage(std::string(text)) {}
    PropertyValue(std::int64_t integer) : storage(integer) {}
    PropertyValue(int integer) : storage(std::int64_t{integer}) {}
    PropertyValue(double real) : storage(real) {}
    PropertyValue(bool flag) : storage(flag) {}
    PropertyValue(PropertyDate date) : storage(date) {}
    PropertyValue(PropertyData data) : storage(std::move(data)) {}
    PropertyValue(PropertyArray array) : storage(std::move(array)) {}
    PropertyValue(PropertyDictionary dictionary) : storage(std::move(dictionary)) {}

    template <typename T>
    const T* getIf() const noexcept {
        return std::get_if<T>(&storage);
    }

    bool operator==(const PropertyValue&) const = default;

    Storage storage;
};

// A property list that does not parse, or holds a value this type cannot carry.
class PLATFORM_EXPORT PropertyListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace PropertyList {

// Reads XML or binary form (told apart by the binary header). Before the list library
// sees the bytes, a list nested more than 256 levels deep, or naming more values than
// it has bytes (plus a small allowance; a value named twice counts twice), is refused
// with PropertyListError: so is one naming more than maximumValues.
PLATFORM_EXPORT PropertyValue read(std::string_view bytes);
PLATFORM_EXPORT PropertyValue read(std::string_view bytes, std::size_t maximumValues);
// Reads a whole file; a missing file throws SystemError.
PLATFORM_EXPORT PropertyValue readFile(const std::string& path);

PLATFORM_EXPORT std::string xml(const PropertyValue& value);
PLATFORM_EXPORT std::string binary(const PropertyValue& value);

// The string stored under key, or nullptr when absent or not a string.
PLATFORM_EXPORT const std::string* stringValue(const PropertyDictionary& dictionary, const std::string& key);

}  // namespace PropertyList
}  // namespace platform
