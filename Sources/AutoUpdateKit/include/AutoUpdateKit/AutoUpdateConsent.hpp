#pragma once
// The app's say over a ready update. The decision callback sees the staged candidate:
// its signed manifest carries the version, build, release notes, release date and
// archive size. Skipping keeps the update identifier under "AutoUpdateSkippedVersion"
// in the app's defaults; scheduled checks then pass over that release, manual checks
// still offer it.

#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/Export.hpp"

#include <functional>

namespace autoupdatekit {

enum class AutoUpdateDecision { installNow, later, skipThisVersion };

// "installNow", "later", "skipThisVersion".
AUTOUPDATEKIT_EXPORT std::string rawValue(AutoUpdateDecision decision);

using AutoUpdateConsent = std::function<AutoUpdateDecision(const AutoUpdateCandidate& candidate)>;

}  // namespace autoupdatekit
