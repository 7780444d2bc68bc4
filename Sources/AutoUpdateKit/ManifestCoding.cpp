#include "AutoUpdateKit/ManifestCoding.hpp"

#include "JSONWriter.hpp"
#include "Platform/Identifiers.hpp"

#include <chrono>
#include <limits>
#include <nlohmann/json.hpp>

namespace autoupdatekit {
namespace {

using Json = nlohmann::json;

// Deeper documents are refused while parsing, before they can cost stack or memory.
constexpr int maximumDepth = 64;

constexpr std::chrono::sys_days earliestDate = std::chrono::year(0) / 1 / 1;
constexpr std::chrono::sys_days pastLatestDate = std::chrono::year(10000) / 1 / 1;

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

std::string requiredString(const Json& object, const std::string& key) {
    const Json& value = member(object, key);
    if (!value.is_string()) {
        throw DecodingError("Expected to decode a string for key \"" + key + "\" but found " + describeType(value) + " instead.");
    }
    return value.get<std::string>();
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

UpdateManifestPayload payloadFrom(const Json& object) {
    std::string urlText = requiredString(object, "archiveURL");
    auto url = URL::parse(urlText);
    if (!url) throw DecodingError("Invalid URL string \"" + urlText + "\" for key \"archiveURL\".");
    std::string dateText = requiredString(object, "releaseDate");
    auto date = platform::parseISO8601(dateText);
    if (!date) throw DecodingError("Date string \"" + dateText + "\" for key \"releaseDate\" is not an ISO 8601 internet date-time.");
    // An offset can carry the instant out of the four-digit years, which the writer
    // could not give back as the same text form.
    if (*date < earliestDate || *date >= pastLatestDate) {
        throw DecodingError("Date string \"" + dateText + "\" for key \"releaseDate\" falls outside the years 0000 to 9999 in UTC.");
    }

    return UpdateManifestPayload{
        requiredInteger(object, "schemaVersion"),
        requiredString(object, "appName"),
        requiredString(object, "bundleIdentifier"),
        requiredString(object, "version"),
        requiredString(object, "build"),
        optionalString(object, "minimumSystemVersion"),
        *url,
        requiredString(object, "archiveFileName"),
        requiredString(object, "archiveSHA256"),
        requiredInteger(object, "archiveSize"),
        *date,
        optionalString(object, "releaseNotes"),
    };
}

JSONObjectWriter payloadWriter(const UpdateManifestPayload& payload) {
    JSONObjectWriter writer;
    writer.addInteger("schemaVersion", payload.schemaVersion);
    writer.addString("appName", payload.appName);
    writer.addString("bundleIdentifier", payload.bundleIdentifier);
    writer.addString("version", payload.version);
    writer.addString("build", payload.build);
    if (payload.minimumSystemVersion) writer.addString("minimumSystemVersion", *payload.minimumSystemVersion);
    writer.addString("archiveURL", payload.archiveURL.absoluteString());
    writer.addString("archiveFileName", payload.archiveFileName);
    writer.addString("archiveSHA256", payload.archiveSHA256);
    writer.addInteger("archiveSize", payload.archiveSize);
    writer.addString("releaseDate", platform::iso8601UTC(payload.releaseDate));
    if (payload.releaseNotes) writer.addString("releaseNotes", *payload.releaseNotes);
    return writer;
}

}  // namespace

SignedUpdateManifest ManifestDecoder::decodeManifest(std::string_view json) const {
    Json document = parse(json);
    const Json& top = objectAtTop(document);
    const Json& payload = member(top, "payload");
    if (!payload.is_object()) {
        throw DecodingError("Expected to decode a dictionary for key \"payload\" but found " + describeType(payload) + " instead.");
    }
    UpdateManifestPayload decoded = payloadFrom(payload);
    return SignedUpdateManifest{std::move(decoded), requiredString(top, "signature")};
}

UpdateManifestPayload ManifestDecoder::decodePayload(std::string_view json) const {
    Json document = parse(json);
    return payloadFrom(objectAtTop(document));
}

std::string ManifestEncoder::encode(const UpdateManifestPayload& payload) const { return payloadWriter(payload).text(); }

std::string ManifestEncoder::encode(const SignedUpdateManifest& manifest) const {
    JSONObjectWriter writer;
    writer.addObject("payload", payloadWriter(manifest.payload));
    writer.addString("signature", manifest.signature);
    return writer.text();
}

namespace ManifestCoding {

ManifestDecoder makeDecoder() { return ManifestDecoder(); }
ManifestEncoder makeEncoder() { return ManifestEncoder(); }
std::string canonicalPayloadData(const UpdateManifestPayload& payload) { return makeEncoder().encode(payload); }
std::string manifestData(const SignedUpdateManifest& manifest) { return makeEncoder().encode(manifest); }

}  // namespace ManifestCoding
}  // namespace autoupdatekit
