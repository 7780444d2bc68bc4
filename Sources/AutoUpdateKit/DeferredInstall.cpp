#include "DeferredInstall.hpp"

#include "DeferredInstallScript.hpp"
#include "SuppressedUpdate.hpp"

#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <unistd.h>

namespace autoupdatekit {
namespace {

std::string singleQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string deferredInstallScript() {
    // DeferredInstall.sh expects these before its own text.
    return "codesign_tool=" + singleQuoted(platform::paths::codesign()) + "\n" +
           "ditto_tool=" + singleQuoted(platform::paths::ditto()) + "\n" +
           "open_tool=" + singleQuoted(platform::paths::open()) + "\n" +
           "defaults_tool=" + singleQuoted(platform::paths::defaults()) + "\n" +
           "suppression_key=" + singleQuoted(suppressedUpdateIdentifierKey) + "\n" + std::string(deferredInstallScriptText);
}

void installAfterCurrentProcessExits(const InstallationPlan& plan, const std::string& updateIdentifier,
                                     const std::optional<std::string>& bundleIdentifier, bool relaunch) {
    platform::launchInheriting(platform::paths::shell,
                               {"-c", deferredInstallScript(), "autoupdate-install", std::to_string(::getpid()),
                                plan.currentAppURL.path(), plan.stagedAppURL.path(), rawValue(plan.strategy), updateIdentifier,
                                bundleIdentifier.value_or(""), relaunch ? "1" : "0"});
}

}  // namespace autoupdatekit
