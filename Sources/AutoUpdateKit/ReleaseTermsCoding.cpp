#include "ReleaseTermsCoding.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "Platform/WebURL.hpp"

#include <algorithm>

namespace autoupdatekit::ManifestExtensionCoding {
namespace {

using namespace JSONReading;

// Bounds on what a client spends on the releases, far above any real feed's.
constexpr std::size_t maximumDeltas = 64;
constexpr std::size_t maximumChannels = 16;
constexpr std::size_t maximumSteppingStones = 16;
constexpr std::size_t longestChannelName = 64;

const std::set<std::string> deltaKeys = {"fromBuild", "fromTreeSHA256", "fromVersion", "sha256", "size",
                                         "toTreeSHA256", "url"};
const std::set<std::string> payloadKeys = {"appName", "archiveFileName", "archiveSHA256", "archiveSize", "archiveURL",
                                           "build", "bundleIdentifier", "minimumSystemVersion", "releaseDate",
                                           "releaseNotes", "schemaVersion", "version"};
const std::set<std::string> termKeys = {"critical", "deltas", "minimumInstalledVersion", "steppingStones"};

std::string requiredDigest(const Json& object, const std::string& key) {
    std::string digest = requiredString(object, key);
    bool hex = std::all_of(digest.begin(), digest.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
    if (digest.size() != 64 || !hex) refuse("\"" + key + "\" is not 64 lower-case hexadecimal digits");
    return digest;
}

DeltaUpdate deltaFrom(const Json& object) {
    if (!object.is_object()) refuse("a delta is " + describeType(object) + ", not a dictionary");
    for (const auto& item : object.items()) {
        if (!deltaKeys.contains(item.key())) refuse("a delta has the unknown key \"" + item.key() + "\"");
    }
    DeltaUpdate delta{requiredString(object, "fromVersion"), requiredString(object, "fromBuild"),
                      requiredString(object, "url"),         requiredInteger(object, "size"),
                      requiredDigest(object, "sha256"),      requiredDigest(object, "fromTreeSHA256"),
                      requiredDigest(object, "toTreeSHA256")};
    auto url = platform::WebURL::parse(delta.url);
    if (!url || (url->scheme() != "https" && url->scheme() != "http")) refuse("a delta's URL is not an http or https URL");
    if (delta.size <= 0) refuse("a delta's size is not positive");
    if (delta.fromVersion.empty() || delta.fromBuild.empty()) refuse("a delta names no version or build to start from");
    return delta;
}

// A list of 1 to maximum elements.
const Json& listOf(const Json& object, const std::string& key, std::size_t maximum) {
    const Json& list = object.at(key);
    if (!list.is_array() || list.empty() || list.size() > maximum) {
        refuse("\"" + key + "\" is not a list of 1 to " + std::to_string(maximum) + " entries");
    }
    return list;
}

std::string versionText(const Json& object, const std::string& key) {
    std::string version = requiredString(object, key);
    if (version.empty()) refuse("\"" + key + "\" is empty");
    return version;
}

CriticalUpdate criticalFrom(const Json& value) {
    if (value == Json(true)) return {};
    if (!value.is_object() || value.size() != 1 || !value.contains("belowVersion")) {
        refuse("\"critical\" is neither true nor a dictionary holding only \"belowVersion\"");
    }
    return {versionText(value, "belowVersion")};
}

// A payload's fields and its terms, with no other key: an unknown one could change
// what the release means.
ManifestRelease releaseFrom(const Json& object, bool steppingStonesAllowed) {
    if (!object.is_object()) refuse("a release is " + describeType(object) + ", not a dictionary");
    Json payload = Json::object();
    for (const auto& item : object.items()) {
        if (payloadKeys.contains(item.key())) payload[item.key()] = item.value();
        else if (!termKeys.contains(item.key())) refuse("a release has the unknown key \"" + item.key() + "\"");
    }
    return {readTerms(object, steppingStonesAllowed), ManifestCoding::makeDecoder().decodePayload(payload.dump())};
}

Json releaseJSON(const ManifestRelease& release) {
    Json object = parse(ManifestCoding::canonicalPayloadData(release.payload));
    writeTerms(release, object);
    return object;
}

}  // namespace

bool isChannelName(const std::string& name) {
    return !name.empty() && name.size() <= longestChannelName && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    });
}

void refuse(const std::string& reason) { throw DecodingError("The manifest extension is not valid: " + reason + "."); }

const std::set<std::string> releaseMembers = {"channels", "critical", "deltas", "minimumInstalledVersion", "steppingStones"};

ReleaseTerms readTerms(const Json& object, bool steppingStonesAllowed) {
    ReleaseTerms terms;
    if (object.contains("deltas")) {
        for (const auto& delta : listOf(object, "deltas", maximumDeltas)) terms.deltas.push_back(deltaFrom(delta));
    }
    if (object.contains("critical")) terms.critical = criticalFrom(object.at("critical"));
    if (object.contains("minimumInstalledVersion")) terms.minimumInstalledVersion = versionText(object, "minimumInstalledVersion");
    if (object.contains("steppingStones")) {
        if (!steppingStonesAllowed) refuse("a stepping stone lists stepping stones");
        for (const auto& stone : listOf(object, "steppingStones", maximumSteppingStones)) {
            terms.steppingStones.push_back(releaseFrom(stone, false));
        }
    }
    return terms;
}

std::map<std::string, ManifestRelease> readChannels(const Json& channels) {
    if (!channels.is_object() || channels.empty() || channels.size() > maximumChannels) {
        refuse("\"channels\" is not a dictionary of 1 to " + std::to_string(maximumChannels) + " channels");
    }
    std::map<std::string, ManifestRelease> releases;
    for (const auto& item : channels.items()) {
        if (!isChannelName(item.key())) refuse("\"" + item.key() + "\" is no channel name (1 to 64 of a-z, 0-9, \"-\", \"_\", \".\")");
        releases.emplace(item.key(), releaseFrom(item.value(), true));
    }
    return releases;
}

void writeTerms(const ReleaseTerms& terms, Json& object) {
    if (!terms.deltas.empty()) {
        Json deltas = Json::array();
        for (const auto& delta : terms.deltas) {
            deltas.push_back({{"fromVersion", delta.fromVersion}, {"fromBuild", delta.fromBuild}, {"url", delta.url},
                              {"size", delta.size}, {"sha256", delta.sha256}, {"fromTreeSHA256", delta.fromTreeSHA256},
                              {"toTreeSHA256", delta.toTreeSHA256}});
        }
        object["deltas"] = std::move(deltas);
    }
    if (terms.critical) {
        object["critical"] = terms.critical->belowVersion ? Json::object({{"belowVersion", *terms.critical->belowVersion}}) : Json(true);
    }
    if (terms.minimumInstalledVersion) object["minimumInstalledVersion"] = *terms.minimumInstalledVersion;
    if (!terms.steppingStones.empty()) {
        Json stones = Json::array();
        for (const auto& stone : terms.steppingStones) stones.push_back(releaseJSON(stone));
        object["steppingStones"] = std::move(stones);
    }
}

void writeChannels(const std::map<std::string, ManifestRelease>& channels, Json& object) {
    if (channels.empty()) return;
    Json releases = Json::object();
    for (const auto& [name, release] : channels) releases[name] = releaseJSON(release);
    object["channels"] = std::move(releases);
}

}  // namespace autoupdatekit::ManifestExtensionCoding
