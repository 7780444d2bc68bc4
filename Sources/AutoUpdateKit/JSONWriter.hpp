#pragma once
// The manifest's fixed JSON text form: members in ascending byte-wise key order, " : "
// between key and value, two spaces of indentation per level, strings written raw but
// for the escapes of quote, backslash and control characters, and no newline after the
// closing brace. Arrays follow the same layout as objects, one element per line.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace autoupdatekit {

// The canonical text of a JSON value made of objects, arrays, strings, integers and
// booleans. Throws EncodingError for text that is not valid UTF-8, and for null or a
// fractional number, which have no canonical form here.
std::string canonicalJSONText(const nlohmann::json& value);

class JSONObjectWriter {
public:
    // Throws EncodingError for text that is not valid UTF-8.
    void addString(const std::string& key, const std::string& value);
    void addInteger(const std::string& key, std::int64_t value);
    void addObject(const std::string& key, const JSONObjectWriter& object);
    void addValue(const std::string& key, nlohmann::json value);

    const nlohmann::json& value() const { return object_; }
    std::string text() const { return canonicalJSONText(object_); }

private:
    nlohmann::json object_ = nlohmann::json::object();
};

}  // namespace autoupdatekit
