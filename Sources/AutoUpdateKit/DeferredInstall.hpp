#pragma once
// The deferred install: a shell script, started just before the app exits, that waits
// for the app's process to end, installs by the plan's strategy, verifies, rolls back
// and falls back to the user's Applications folder, records or clears the failed-update
// suppression, logs, and reopens the app.

#include "AutoUpdateKit/InstallationPlan.hpp"

#include <optional>
#include <string>

namespace autoupdatekit {

// The script text: DeferredInstall.sh, embedded at build time, after the build's
// absolute tool paths and the suppression key's name.
std::string deferredInstallScript();

// Starts "/bin/sh -c <script> autoupdate-install <pid> <current> <staged> <strategy>
// <update id> <bundle id> <relaunch>" with this process's environment and standard
// streams, and does not wait for it. Only a failure to start it is reported (the
// platform's error).
void installAfterCurrentProcessExits(const InstallationPlan& plan, const std::string& updateIdentifier,
                                     const std::optional<std::string>& bundleIdentifier, bool relaunch = true);

}  // namespace autoupdatekit
