#include "JSONWriter.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "Platform/TextEncoding.hpp"

#include <algorithm>
#include <cstdio>

namespace autoupdatekit {
namespace {

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

}  // namespace

void JSONObjectWriter::addString(const std::string& key, const std::string& value) {
    members_.push_back({key, quoted(value), {}});
}

void JSONObjectWriter::addInteger(const std::string& key, std::int64_t value) {
    members_.push_back({key, std::to_string(value), {}});
}

void JSONObjectWriter::addObject(const std::string& key, const JSONObjectWriter& object) {
    members_.push_back({key, {}, {object}});
}

std::string JSONObjectWriter::render(int level) const {
    std::vector<const Member*> sorted;
    for (const auto& member : members_) sorted.push_back(&member);
    std::sort(sorted.begin(), sorted.end(), [](const Member* a, const Member* b) { return a->key < b->key; });

    std::string indentation(static_cast<std::size_t>(level) * 2 + 2, ' ');
    std::string out = "{\n";
    for (std::size_t index = 0; index < sorted.size(); ++index) {
        const Member& member = *sorted[index];
        out += indentation + quoted(member.key) + " : ";
        out += member.object.empty() ? member.value : member.object.front().render(level + 1);
        out += index + 1 < sorted.size() ? ",\n" : "\n";
    }
    out += std::string(static_cast<std::size_t>(level) * 2, ' ') + "}";
    return out;
}

}  // namespace autoupdatekit
