#include "AutoUpdateKit/ManifestCoding.hpp"

#include "JSONReading.hpp"
#include "JSONWriter.hpp"
#include "Platform/Identifiers.hpp"

#include <chrono>

namespace autoupdatekit {
namespace {

using namespace JSONReading;

constexpr std::chrono::sys_days earliestDate = std::chrono::year(0) / 1 / 1;
constexpr std::chrono::sys_days pastLatestDate = std::chrono::year(10000) / 1 / 1;

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
    UpdateManifestPayload decoded = payloadFrom(requiredObject(top, "payload"));
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
