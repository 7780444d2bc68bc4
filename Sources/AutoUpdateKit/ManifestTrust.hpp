#pragma once
// What a check demands of a manifest before acting on it: signatures by enough of the
// app's keys, freshness (an expiry not passed, a sequence number not below one already
// accepted) and the binding to the app and its channel.

#include "AutoUpdateKit/ManifestExtension.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace autoupdatekit {

struct AutoUpdateConfiguration;
class ClientSettings;

// The publisher's clock and this one may differ by this much.
inline constexpr std::chrono::hours clockSkewAllowance{1};

struct ManifestTrust {
    std::vector<std::string> publicKeys;  // distinct base64 keys
    std::size_t threshold = 1;
    bool requireFresh = false;
    std::optional<std::string> bundleIdentifier;  // the installed app's
    std::string channel = "stable";

    // Throws the AutoUpdateError that says why the manifest is not trusted. The highest
    // sequence accepted before for the app and channel, when there is one, is given.
    void check(const SignedUpdateManifest& manifest, const std::optional<ManifestExtension>& extension,
               std::optional<std::int64_t> highestAccepted, std::chrono::system_clock::time_point now) const;

    // check, with the highest sequence kept in the app's settings; a higher one is stored
    // before this returns, so a crash once the caller acts on the manifest cannot let a
    // lower one in later.
    void accept(const SignedUpdateManifest& manifest, const std::optional<ManifestExtension>& extension,
                ClientSettings& settings, std::chrono::system_clock::time_point now) const;
};

// The configuration's keys (the single one first, then the list, blank and repeated
// ones left out) and rules. Throws AutoUpdateError::invalidManifestKeys when the
// threshold is below 1 or above the number of keys.
ManifestTrust manifestTrust(const AutoUpdateConfiguration& configuration, std::optional<std::string> bundleIdentifier);

}  // namespace autoupdatekit
