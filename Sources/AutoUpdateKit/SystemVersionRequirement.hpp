#pragma once
// The running system's version and the release's minimum system version.

#include <optional>
#include <string>

namespace autoupdatekit {

// Major, minor and patch joined by ".", always all three ("12.0.0").
std::string currentSystemVersionString();

// Fails with AutoUpdateError.unsupportedSystemVersion when the required version (as
// written; blank means no requirement) is above the running system's.
void validateMinimumSystemVersion(const std::optional<std::string>& minimumSystemVersion);

}  // namespace autoupdatekit
