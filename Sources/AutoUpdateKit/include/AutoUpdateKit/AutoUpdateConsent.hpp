#pragma once
// The app's say over a ready update. The decision callback sees the staged candidate:
// its signed manifest carries the version, build, release notes, release date and
// archive size. Skipping keeps the update identifier under "AutoUpdateSkippedVersion"
// in the app's defaults; scheduled and start-up checks then pass over that release,
// checks the user asks for still offer it. A critical candidate (candidate.critical) is
// offered whatever was skipped, and "later" installs it when the app quits.

#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/Export.hpp"

#include <functional>

namespace autoupdatekit {

enum class AutoUpdateDecision {
    // Hand the install over, then ask the app to quit; it is relaunched as the new version.
    installNow,
    // Keep the update staged; it is reused by the next check.
    later,
    skipThisVersion,
    // Keep the update staged and install it when the app ends normally, without
    // relaunching it.
    installOnQuit,
};

// "installNow", "later", "skipThisVersion", "installOnQuit".
AUTOUPDATEKIT_EXPORT std::string rawValue(AutoUpdateDecision decision);

using AutoUpdateConsent = std::function<AutoUpdateDecision(const AutoUpdateCandidate& candidate)>;

}  // namespace autoupdatekit
