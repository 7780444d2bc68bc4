// Install orchestration: plan, hand the install to something that outlives the app
// (the deferred script or the privileged helper), and end the process.

#include "AutoUpdateKit/AutoUpdateManager.hpp"

#include "AutoUpdateKit/InstallationPlan.hpp"
#include "AutoUpdateKit/PrivilegedHelperBlesser.hpp"
#include "AutoUpdateKit/PrivilegedUpdateClient.hpp"
#include "DeferredInstall.hpp"

#include <cstdlib>
#include <memory>
#include <thread>
#include <unistd.h>

namespace autoupdatekit {
namespace {

constexpr double longestGracePeriod = 3.0;

void gracePeriod(const AutoUpdateManager::BeforeRelaunch& beforeRelaunch) {
    if (!beforeRelaunch) return;
    std::optional<double> seconds = beforeRelaunch();
    if (!seconds || !(*seconds > 0)) return;
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(*seconds, longestGracePeriod)));
}

InstallationPlan planFor(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration) {
    return InstallationPlanner::plan(configuration.currentBundle->bundleURL(), candidate.extractedAppURL);
}

// The path with every link resolved; as it is when it cannot be resolved, for the
// helper to report.
std::string resolvedPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

}  // namespace

void AutoUpdateManager::installAndRelaunch(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                           const BeforeRelaunch& beforeRelaunch, const Log& log) {
    InstallationPlan plan = planFor(candidate, configuration);
    log("AutoUpdateKit: install strategy " + rawValue(plan.strategy));
    gracePeriod(beforeRelaunch);
    log("AutoUpdateKit: scheduling deferred install for " + plan.currentAppURL.path());
    installAfterCurrentProcessExits(plan, updateIdentifier(candidate.manifest.payload), configuration.currentBundle->bundleIdentifier());
    std::exit(0);
}

void AutoUpdateManager::installWithPrivilegedHelperAndRelaunch(const AutoUpdateCandidate& candidate,
                                                               const AutoUpdateConfiguration& configuration,
                                                               const std::optional<std::string>& machServiceName,
                                                               const BeforeRelaunch& beforeRelaunch, const Log& log) {
    std::string service = machServiceName.value_or(configuration.privilegedHelperMachServiceName);
    InstallationPlan plan = planFor(candidate, configuration);
    log("AutoUpdateKit: install strategy privilegedHelper for " + plan.currentAppURL.path());
    if (!plan.currentTeamIdentifier || plan.currentTeamIdentifier->empty()) {
        throw AutoUpdateError::privilegedHelperRequiresTeamIdentifier();
    }
    auto bundleIdentifier = configuration.currentBundle->bundleIdentifier();
    if (!bundleIdentifier) throw InstallationPlanError::bundleIdentifierMissing(plan.currentAppURL);
    gracePeriod(beforeRelaunch);
    // The helper opens the staged app through no link at all, so a link on the way to
    // the caches folder (a linked home, say) is resolved here, as this user.
    PrivilegedUpdateRequest request(plan.currentAppURL.path(), resolvedPath(candidate.extractedAppURL.path()), *bundleIdentifier,
                                    *plan.currentTeamIdentifier, updateIdentifier(candidate.manifest.payload),
                                    static_cast<std::int32_t>(::getpid()), true);
    log("AutoUpdateKit: scheduling privileged install for " + plan.currentAppURL.path());
    // The job label and the service name are the same text.
    PrivilegedHelperBlesser::ensureInstalled(service, configuration.currentBundle->bundleURL());
    PrivilegedUpdateClient(service).scheduleInstall(request);
    std::exit(0);
}

void AutoUpdateManager::checkInstallAndRelaunchFromMainBundleIfConfigured(const Log& log) {
    checkInstallAndRelaunchFromMainBundleIfConfigured(log, {});
}

void AutoUpdateManager::checkInstallAndRelaunchFromMainBundleIfConfigured(const Log& log, const platform::ProgressObserver& progress,
                                                                          const AutoUpdateConsent& consent) {
    auto configuration = mainBundleConfiguration(log);
    if (!configuration) return;
    AutoUpdateCheckResult result;
    try {
        result = AutoUpdateManager(*configuration, platform::HTTPSession::shared()).checkForUpdate(progress, log);
    } catch (const std::exception& error) {
        log(std::string("AutoUpdateKit: ") + error.what());
        return;
    }
    log("AutoUpdateKit: " + result.logDescription());
    const auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&result.value);
    if (ready == nullptr) return;
    try {
        decideAndAct(ready->candidate, *configuration, consent, log);
    } catch (const std::exception& error) {
        log(std::string("AutoUpdateKit: ") + error.what());
    }
}

}  // namespace autoupdatekit
