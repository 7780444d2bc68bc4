#include "JSONReading.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"

#include <limits>

namespace autoupdatekit::JSONReading {
namespace {

constexpr int maximumDepth = 64;

const Json& memberOfType(const Json& object, const std::string& key, Json::value_t type, const char* typeName) {
    const Json& value = member(object, key);
    if (value.type() != type) {
        throw DecodingError(std::string("Expected to decode ") + typeName + " for key \"" + key + "\" but found " +
                            describeType(value) + " instead.");
    }
    return value;
}

}  // namespace

std::string describeType(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::object: return "a dictionary";
    case Json::value_t::array: return "an array";
    case Json::value_t::string: return "a string";
    case Json::value_t::boolean: return "a boolean";
    default: return "a number";
    }
}

Json parse(std::string_view text) {
    auto limitDepth = [](int depth, Json::parse_event_t, Json&) {
        if (depth > maximumDepth) throw DecodingError("The given data was not valid JSON: nested too deeply.");
        return true;
    };
    try {
        return Json::parse(text.begin(), text.end(), limitDepth);
    } catch (const Json::exception& error) {
        throw DecodingError(std::string("The given data was not valid JSON: ") + error.what());
    }
}

const Json& objectAtTop(const Json& value) {
    if (!value.is_object()) {
        throw DecodingError("Expected to decode a dictionary at the top level but found " + describeType(value) + " instead.");
    }
    return value;
}

const Json& member(const Json& object, const std::string& key) {
    auto found = object.find(key);
    if (found == object.end()) throw DecodingError("No value associated with key \"" + key + "\".");
    return *found;
}

const Json& requiredObject(const Json& object, const std::string& key) {
    return memberOfType(object, key, Json::value_t::object, "a dictionary");
}

const Json& requiredArray(const Json& object, const std::string& key) {
    return memberOfType(object, key, Json::value_t::array, "an array");
}

std::string requiredString(const Json& object, const std::string& key) {
    return memberOfType(object, key, Json::value_t::string, "a string").get<std::string>();
}

std::optional<std::string> optionalString(const Json& object, const std::string& key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    return requiredString(object, key);
}

std::int64_t requiredInteger(const Json& object, const std::string& key) {
    const Json& value = member(object, key);
    if (value.is_number_integer()) {
        if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max()) {
            throw DecodingError("Parsed JSON number " + value.dump() + " for key \"" + key + "\" does not fit in a 64-bit integer.");
        }
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        throw DecodingError("Parsed JSON number " + value.dump() + " for key \"" + key + "\" is not a 64-bit integer.");
    }
    throw DecodingError("Expected to decode an integer for key \"" + key + "\" but found " + describeType(value) + " instead.");
}

}  // namespace autoupdatekit::JSONReading
