#include "JSONWriter.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "Platform/TextEncoding.hpp"

#include <cstdio>

namespace autoupdatekit {
namespace {

using Json = nlohmann::json;

std::string quoted(const std::string& text) {
    if (!platform::isValidUTF8(text)) throw EncodingError("Text to encode is not valid UTF-8.");
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string render(const Json& value, int level);

// Objects and arrays: the opening bracket, one line per element indented one level
// deeper, and the closing bracket at the container's own indentation. The library
// keeps object members sorted by key, byte by byte.
std::string renderContainer(const Json& container, int level, char open, char close) {
    std::string indentation(static_cast<std::size_t>(level) * 2 + 2, ' ');
    std::string out = std::string(1, open) + "\n";
    std::size_t index = 0;
    for (auto element = container.begin(); element != container.end(); ++element, ++index) {
        out += indentation;
        if (container.is_object()) out += quoted(element.key()) + " : ";
        out += render(element.value(), level + 1);
        out += index + 1 < container.size() ? ",\n" : "\n";
    }
    return out + std::string(static_cast<std::size_t>(level) * 2, ' ') + close;
}

std::string render(const Json& value, int level) {
    switch (value.type()) {
    case Json::value_t::object: return renderContainer(value, level, '{', '}');
    case Json::value_t::array: return renderContainer(value, level, '[', ']');
    case Json::value_t::string: return quoted(value.get_ref<const std::string&>());
    case Json::value_t::boolean: return value.get<bool>() ? "true" : "false";
    case Json::value_t::number_integer: return std::to_string(value.get<std::int64_t>());
    case Json::value_t::number_unsigned: return std::to_string(value.get<std::uint64_t>());
    default: throw EncodingError("A null or fractional JSON value has no canonical text.");
    }
}

}  // namespace

std::string canonicalJSONText(const Json& value) { return render(value, 0); }

void JSONObjectWriter::addString(const std::string& key, const std::string& value) {
    quoted(value);  // refuses text that is not UTF-8 now, not when the text is written
    object_[key] = value;
}

void JSONObjectWriter::addInteger(const std::string& key, std::int64_t value) { object_[key] = value; }

void JSONObjectWriter::addObject(const std::string& key, const JSONObjectWriter& object) { object_[key] = object.object_; }

void JSONObjectWriter::addValue(const std::string& key, Json value) { object_[key] = std::move(value); }

}  // namespace autoupdatekit
