#include "AutoUpdateKit/ManifestExtension.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "JSONReading.hpp"
#include "JSONWriter.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/TextEncoding.hpp"
#include "ReleaseTermsCoding.hpp"

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
constexpr std::size_t maximumSignedValues = 4096;

const std::set<std::string> knownMembers = {"bundleIdentifier", "channel",  "channels", "critical",       "deltas",
                                            "expires",          "minimumInstalledVersion", "mustUnderstand", "sequence",
                                            "steppingStones"};

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

void checkMustUnderstand(const Json& names) {
    if (!names.is_array()) refuse("\"mustUnderstand\" is not an array");
    for (const auto& name : names) {
        if (!name.is_string()) refuse("\"mustUnderstand\" holds " + describeType(name));
        if (!knownMembers.contains(name.get<std::string>())) {
            refuse("it needs \"" + name.get<std::string>() + "\", which this version does not understand");
        }
    }
}

// Reads a freshness member or the bundle identifier into the extension; false for any
// other member.
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
    } else if (key == "bundleIdentifier") {
        if (!value.is_string() || value.get<std::string>().empty()) refuse("\"bundleIdentifier\" is not a non-empty text");
        decoded.bundleIdentifier = value.get<std::string>();
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
    static_cast<ReleaseTerms&>(decoded) = readTerms(signedMembers);
    for (const auto& item : signedMembers.items()) {
        if (item.key() == "channels") {
            decoded.channels = readChannels(item.value());
        } else if (item.key() == "channel") {
            if (!item.value().is_string() || !isChannelName(item.value().get<std::string>())) refuse("\"channel\" is no channel name");
            decoded.channel = item.value().get<std::string>();
        } else if (!releaseMembers.contains(item.key()) && !readFreshnessOrBinding(item.key(), item.value(), decoded)) {
            if (item.key() == "mustUnderstand") checkMustUnderstand(item.value());
            decoded.otherMembers[item.key()] = canonicalJSONText(item.value());
        }
    }
    if (decoded.channels.contains(decoded.channel.value_or("stable"))) refuse("the payload's channel is listed again in \"channels\"");
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
    writeTerms(extension, object);
    writeChannels(extension.channels, object);
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
