#include "AutoUpdateKit/ManifestExtension.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "JSONReading.hpp"
#include "JSONWriter.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/TextEncoding.hpp"
#include "Platform/WebURL.hpp"

#include <algorithm>
#include <limits>
#include <set>

namespace autoupdatekit::ManifestExtensionCoding {
namespace {

using namespace JSONReading;

// Separates these signed bytes from every other message signed with the same key.
constexpr std::string_view signedContext = "autoupdatekit manifest extension 1\n";

// Bounds on what a client spends on an extension, far above any real release's.
constexpr std::size_t maximumSignatures = 8;
constexpr std::size_t maximumDeltas = 64;
constexpr std::size_t maximumSignedValues = 4096;

const std::set<std::string> knownMembers = {"bundleIdentifier", "channel", "deltas", "expires", "mustUnderstand", "sequence"};
const std::set<std::string> deltaKeys = {"fromBuild", "fromTreeSHA256", "fromVersion", "sha256", "size",
                                         "toTreeSHA256", "url"};

void refuse(const std::string& reason) { throw DecodingError("The manifest extension is not valid: " + reason + "."); }

// Counts the values without recursion and refuses those without a canonical form.
void checkSignedValues(const Json& signedMembers) {
    std::vector<const Json*> pending{&signedMembers};
    std::size_t count = 0;
    while (!pending.empty()) {
        const Json* value = pending.back();
        pending.pop_back();
        if (++count > maximumSignedValues) refuse("more than " + std::to_string(maximumSignedValues) + " signed values");
        if (value->is_null() || value->is_number_float()) refuse("a signed value is null or fractional");
        if (value->is_structured()) {
            for (const auto& element : *value) pending.push_back(&element);
        }
    }
}

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

void checkMustUnderstand(const Json& names) {
    if (!names.is_array()) refuse("\"mustUnderstand\" is not an array");
    for (const auto& name : names) {
        if (!name.is_string()) refuse("\"mustUnderstand\" holds " + describeType(name));
        if (!knownMembers.contains(name.get<std::string>())) {
            refuse("it needs \"" + name.get<std::string>() + "\", which this version does not understand");
        }
    }
}

// Reads a freshness or binding member into the extension; false for any other member.
bool readFreshnessOrBinding(const std::string& key, const Json& value, ManifestExtension& decoded) {
    if (key == "expires") {
        std::string text = value.is_string() ? value.get<std::string>() : "";
        auto time = platform::parseISO8601(text);
        // One form only, so the signed text is rebuilt byte for byte from the time.
        if (!time || platform::iso8601UTC(*time) != text) refuse("\"expires\" is not a UTC time like 2027-01-07T12:00:00Z");
        decoded.expires = *time;
    } else if (key == "sequence") {
        // The parser keeps every whole number above zero as unsigned.
        bool positive = value.is_number_unsigned() && value.get<std::uint64_t>() > 0 &&
                        value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (!positive) refuse("\"sequence\" is not a positive 64-bit integer");
        decoded.sequence = value.get<std::int64_t>();
    } else if (key == "bundleIdentifier" || key == "channel") {
        if (!value.is_string() || value.get<std::string>().empty()) refuse("\"" + key + "\" is not a non-empty text");
        (key == "channel" ? decoded.channel : decoded.bundleIdentifier) = value.get<std::string>();
    } else {
        return false;
    }
    return true;
}

ManifestExtension extensionFrom(const Json& extension) {
    if (!extension.is_object()) refuse("it is " + describeType(extension) + ", not a dictionary");
    for (const auto& item : extension.items()) {
        if (item.key() != "signatures" && item.key() != "signed") refuse("it has the unsigned key \"" + item.key() + "\"");
    }
    const Json& signedMembers = requiredObject(extension, "signed");
    checkSignedValues(signedMembers);
    ManifestExtension decoded;
    for (const auto& item : signedMembers.items()) {
        if (item.key() == "deltas") {
            if (!item.value().is_array() || item.value().empty() || item.value().size() > maximumDeltas) {
                refuse("\"deltas\" is not a list of 1 to " + std::to_string(maximumDeltas) + " deltas");
            }
            for (const auto& delta : item.value()) decoded.deltas.push_back(deltaFrom(delta));
        } else if (!readFreshnessOrBinding(item.key(), item.value(), decoded)) {
            if (item.key() == "mustUnderstand") checkMustUnderstand(item.value());
            decoded.otherMembers[item.key()] = canonicalJSONText(item.value());
        }
    }
    const Json& signatures = requiredArray(extension, "signatures");
    if (signatures.size() > maximumSignatures) refuse("more than " + std::to_string(maximumSignatures) + " signatures");
    for (const auto& signature : signatures) {
        if (!signature.is_string()) refuse("a signature is " + describeType(signature));
        decoded.signatures.push_back(signature.get<std::string>());
    }
    return decoded;
}

Json signedObject(const ManifestExtension& extension) {
    Json object = Json::object();
    for (const auto& [key, text] : extension.otherMembers) object[key] = parse(text);
    if (!extension.deltas.empty()) {
        Json deltas = Json::array();
        for (const auto& delta : extension.deltas) {
            deltas.push_back({{"fromVersion", delta.fromVersion}, {"fromBuild", delta.fromBuild}, {"url", delta.url},
                              {"size", delta.size}, {"sha256", delta.sha256}, {"fromTreeSHA256", delta.fromTreeSHA256},
                              {"toTreeSHA256", delta.toTreeSHA256}});
        }
        object["deltas"] = std::move(deltas);
    }
    if (extension.expires) object["expires"] = platform::iso8601UTC(*extension.expires);
    if (extension.sequence) object["sequence"] = *extension.sequence;
    if (extension.bundleIdentifier) object["bundleIdentifier"] = *extension.bundleIdentifier;
    if (extension.channel) object["channel"] = *extension.channel;
    return object;
}

std::optional<platform::Bytes> decodeBase64(const std::string& text) {
    return platform::base64Decode(platform::trimmingWhitespaceAndNewlines(text));
}

}  // namespace

std::optional<ManifestExtension> decodeExtension(std::string_view document) {
    Json parsed = parse(document);
    const Json& top = objectAtTop(parsed);
    auto found = top.find("extension");
    if (found == top.end()) return std::nullopt;
    return extensionFrom(*found);
}

std::string signedData(const UpdateManifestPayload& payload, const ManifestExtension& extension) {
    auto payloadDigest = platform::sha256(ManifestCoding::canonicalPayloadData(payload));
    return std::string(signedContext) + platform::hexLowercase(payloadDigest.data(), payloadDigest.size()) + "\n" +
           canonicalJSONText(signedObject(extension));
}

std::string manifestData(const SignedUpdateManifest& manifest, const ManifestExtension& extension) {
    Json document = parse(ManifestCoding::manifestData(manifest));
    document["extension"] = {{"signed", signedObject(extension)}, {"signatures", extension.signatures}};
    return canonicalJSONText(document);
}

std::string sign(const UpdateManifestPayload& payload, const ManifestExtension& extension, const std::string& privateKeyBase64) {
    auto seed = decodeBase64(privateKeyBase64);
    if (!seed) throw ManifestSignatureError(ManifestSignatureError::Case::invalidPrivateKey);
    platform::Ed25519PrivateKey key(*seed);
    return platform::base64Encode(key.signature(signedData(payload, extension)));
}

bool verify(const UpdateManifestPayload& payload, const ManifestExtension& extension, const std::string& publicKeyBase64) {
    return countSigningKeys(payload, extension, {publicKeyBase64}) == 1;
}

std::size_t countSigningKeys(const UpdateManifestPayload& payload, const ManifestExtension& extension,
                             const std::vector<std::string>& publicKeysBase64) {
    std::set<platform::Bytes> keys;
    for (const auto& text : publicKeysBase64) {
        auto keyBytes = decodeBase64(text);
        if (!keyBytes) throw ManifestSignatureError(ManifestSignatureError::Case::invalidPublicKey);
        keys.insert(*keyBytes);
    }
    std::string message = signedData(payload, extension);
    return static_cast<std::size_t>(std::count_if(keys.begin(), keys.end(), [&](const platform::Bytes& keyBytes) {
        platform::Ed25519PublicKey key(keyBytes);
        return std::any_of(extension.signatures.begin(), extension.signatures.end(), [&](const std::string& text) {
            auto signature = decodeBase64(text);
            return signature && key.isValidSignature(*signature, message);
        });
    }));
}

}  // namespace autoupdatekit::ManifestExtensionCoding
