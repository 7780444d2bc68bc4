#pragma once
// What the client keeps about one app, for display: the time of the last scheduled
// check, the release the user skipped, the machine's rollout group, the update
// suppressed after a failed install, and what lies in the staging directory.

#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/Export.hpp"

#include <optional>
#include <string>
#include <vector>

namespace autoupdatekit {

struct AUTOUPDATEKIT_EXPORT AutoUpdateStatus {
    std::optional<std::string> lastCheckTime;
    std::optional<std::string> skippedVersion;
    std::optional<std::string> rolloutGroup;
    std::optional<std::string> suppressedUpdate;
    // The staged archive and the apps unpacked beside it, as paths; hidden entries (a
    // partial download) are left out.
    std::vector<std::string> staged;
    // "<update id>: <delta bytes> of <archive bytes> bytes" when what is staged was
    // rebuilt from a delta instead of downloading the archive.
    std::optional<std::string> stagedFromDelta;

    // Reads the app's defaults (a file that does not parse reads as empty) and lists
    // the staging directory; changes nothing.
    static AutoUpdateStatus of(const AutoUpdateConfiguration& configuration);
};

}  // namespace autoupdatekit
