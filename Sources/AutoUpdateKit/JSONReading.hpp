#pragma once
// Reading manifest JSON: parsing with a depth limit and typed member access, each
// failure a DecodingError that names the key and what was found.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace autoupdatekit::JSONReading {

using Json = nlohmann::json;

// Deeper documents are refused while parsing, before they can cost stack or memory.
Json parse(std::string_view text);
std::string describeType(const Json& value);
const Json& objectAtTop(const Json& value);
const Json& member(const Json& object, const std::string& key);
const Json& requiredObject(const Json& object, const std::string& key);
const Json& requiredArray(const Json& object, const std::string& key);
std::string requiredString(const Json& object, const std::string& key);
std::optional<std::string> optionalString(const Json& object, const std::string& key);
std::int64_t requiredInteger(const Json& object, const std::string& key);

}  // namespace autoupdatekit::JSONReading
