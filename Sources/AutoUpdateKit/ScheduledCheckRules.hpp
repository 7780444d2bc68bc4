#pragma once
// What only a scheduled check honours: the release the user chose to skip, and a phased
// rollout, in which each machine belongs to one of seven groups and group g is offered
// a release only from its release date plus g intervals.

#include "AutoUpdateKit/UpdateManifest.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace autoupdatekit {

class ClientSettings;

inline constexpr int rolloutGroupCount = 7;

// Why a scheduled check passes over the offered release, as its log line (without the
// "AutoUpdateKit: " prefix); nothing when the release is offered, as a critical one
// always is.
std::optional<std::string> scheduledPassOver(const UpdateManifestPayload& payload, bool critical, ClientSettings& settings,
                                             std::chrono::system_clock::time_point now);

// The machine's group: the stored one when it is 0 to 6, else one drawn at random now
// and stored (when the app has a defaults domain to keep it in).
int rolloutGroup(ClientSettings& settings);

}  // namespace autoupdatekit
