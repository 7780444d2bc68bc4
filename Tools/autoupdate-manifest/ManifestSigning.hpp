#pragma once
// Signing a manifest with one key or several, and keeping it fresh: what sign and
// refresh share.

#include "AutoUpdateKit/ManifestExtension.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace manifestcommands {

struct SigningOptions {
    std::vector<std::string> keys;  // base64 seeds, in the order given
    std::optional<std::string> validFor;
    std::vector<std::string> files;
};

// The private keys of every "--key FILE", "--expires-in" and the file arguments; a
// UsageError when there is no key or another option.
SigningOptions signingOptions(const std::vector<std::string>& arguments);

// "30d", "12h", "45m" or "90s", at most ten years; a UsageError for anything else.
std::chrono::seconds parseDuration(const std::string& text, const std::string& option);

// Sets the expiry to now plus the duration and the sequence to the seconds since the
// epoch, or one more than the extension's when the clock is behind it, so it only grows.
void freshen(autoupdatekit::ManifestExtension& extension, std::chrono::seconds validFor);

// The manifest document: the payload's own signature by the first key (the one older
// clients hold), the extension bound to the payload's app and signed by every key.
std::string signedDocument(const autoupdatekit::UpdateManifestPayload& payload, autoupdatekit::ManifestExtension extension,
                           const std::vector<std::string>& keys);

}  // namespace manifestcommands
