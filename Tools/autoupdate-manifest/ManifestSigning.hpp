#pragma once
// Signing a manifest with one key or several, and keeping it fresh: what sign and
// refresh share.

#include "AutoUpdateKit/ManifestExtension.hpp"

#include <chrono>
#include <string>
#include <vector>

namespace manifestcommands {

// The private keys of every "--key FILE", taken out of the arguments in order, as
// base64 seeds; a UsageError when there is none.
std::vector<std::string> takeSigningKeys(std::vector<std::string>& arguments);

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
