#include "ManifestTrust.hpp"

#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "ClientSettings.hpp"

#include "Platform/TextEncoding.hpp"

#include <algorithm>

namespace autoupdatekit {
namespace {

void checkSignatures(const ManifestTrust& trust, const SignedUpdateManifest& manifest,
                     const std::optional<ManifestExtension>& extension) {
    // The payload's own signature is made by one key, the one older clients hold.
    bool payloadSigned = std::any_of(trust.publicKeys.begin(), trust.publicKeys.end(),
                                     [&](const std::string& key) { return ManifestSignature::verify(manifest, key); });
    if (!payloadSigned) throw AutoUpdateError::invalidManifestSignature();
    // The extension's signatures cover the payload's digest too, so they alone count.
    std::size_t signers = extension ? ManifestExtensionCoding::countSigningKeys(manifest.payload, *extension, trust.publicKeys) : 1;
    if (signers == 0) throw AutoUpdateError::invalidManifestSignature();
    if (signers < trust.threshold) throw AutoUpdateError::tooFewManifestKeys(signers, trust.threshold);
}

void checkBinding(const ManifestTrust& trust, const std::optional<ManifestExtension>& extension) {
    if (extension && extension->bundleIdentifier && extension->bundleIdentifier != trust.bundleIdentifier) {
        throw AutoUpdateError::manifestForAnotherApp(trust.bundleIdentifier, *extension->bundleIdentifier);
    }
    // The payload's channel, or one listed beside it, must be the app's.
    std::string channel = extension && extension->channel ? *extension->channel : "stable";
    bool listed = extension && extension->channels.contains(trust.channel);
    if (channel != trust.channel && !listed) throw AutoUpdateError::manifestForAnotherChannel(trust.channel, channel);
}

void checkFreshness(const ManifestTrust& trust, const std::optional<ManifestExtension>& extension,
                    std::optional<std::int64_t> highestAccepted, std::chrono::system_clock::time_point now) {
    bool fresh = extension && extension->expires && extension->sequence;
    if (trust.requireFresh && !fresh) throw AutoUpdateError::manifestNotFresh();
    if (!extension) return;
    if (extension->expires && now > *extension->expires + clockSkewAllowance) {
        throw AutoUpdateError::manifestExpired(*extension->expires);
    }
    // The same manifest fetched again carries the same number and is still good.
    if (extension->sequence && highestAccepted && *extension->sequence < *highestAccepted) {
        throw AutoUpdateError::manifestReplayed(*extension->sequence, *highestAccepted);
    }
}

std::optional<std::int64_t> acceptedSequence(const ClientSettings& settings, const std::string& channel) {
    auto stored = settings.record(acceptedSequencesKey);
    const auto* sequences = stored ? stored->getIf<platform::PropertyDictionary>() : nullptr;
    if (sequences == nullptr) return std::nullopt;
    auto found = sequences->find(channel);
    return found == sequences->end() ? std::nullopt : integerValue(found->second);
}

void storeAcceptedSequence(ClientSettings& settings, const std::string& channel, std::int64_t sequence) {
    auto stored = settings.record(acceptedSequencesKey);
    const auto* sequences = stored ? stored->getIf<platform::PropertyDictionary>() : nullptr;
    platform::PropertyDictionary updated = sequences ? *sequences : platform::PropertyDictionary{};
    updated[channel] = platform::PropertyValue(sequence);
    settings.setRecord(acceptedSequencesKey, platform::PropertyValue(std::move(updated)));
}

}  // namespace

void ManifestTrust::check(const SignedUpdateManifest& manifest, const std::optional<ManifestExtension>& extension,
                          std::optional<std::int64_t> highestAccepted, std::chrono::system_clock::time_point now) const {
    checkSignatures(*this, manifest, extension);
    checkBinding(*this, extension);
    checkFreshness(*this, extension, highestAccepted, now);
}

void ManifestTrust::accept(const SignedUpdateManifest& manifest, const std::optional<ManifestExtension>& extension,
                           ClientSettings& settings, std::chrono::system_clock::time_point now) const {
    auto highest = acceptedSequence(settings, channel);
    check(manifest, extension, highest, now);
    auto sequence = extension ? extension->sequence : std::nullopt;
    if (sequence && (!highest || *sequence > *highest)) storeAcceptedSequence(settings, channel, *sequence);
}

ManifestTrust manifestTrust(const AutoUpdateConfiguration& configuration, std::optional<std::string> bundleIdentifier) {
    ManifestTrust trust;
    std::vector<std::string> listed{configuration.publicKeyBase64};
    listed.insert(listed.end(), configuration.publicKeysBase64.begin(), configuration.publicKeysBase64.end());
    for (const auto& key : listed) {
        std::string trimmed = platform::trimmingWhitespaceAndNewlines(key);
        if (!trimmed.empty() && std::find(trust.publicKeys.begin(), trust.publicKeys.end(), trimmed) == trust.publicKeys.end()) {
            trust.publicKeys.push_back(trimmed);
        }
    }
    if (configuration.keyThreshold < 1 || static_cast<std::size_t>(configuration.keyThreshold) > trust.publicKeys.size()) {
        std::size_t count = trust.publicKeys.size();
        throw AutoUpdateError::invalidManifestKeys("a threshold of " + std::to_string(configuration.keyThreshold) + " with " +
                                                   std::to_string(count) + (count == 1 ? " distinct key" : " distinct keys"));
    }
    trust.threshold = static_cast<std::size_t>(configuration.keyThreshold);
    trust.requireFresh = configuration.requireFreshManifest;
    trust.bundleIdentifier = std::move(bundleIdentifier);
    trust.channel = configuration.channel;
    return trust;
}

}  // namespace autoupdatekit
