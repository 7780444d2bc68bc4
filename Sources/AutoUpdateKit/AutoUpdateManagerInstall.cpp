// The manager's public calls after a check: the app's decision, the hand-over of an
// install, and the start-up check, blocking or in the background.

#include "AutoUpdateKit/AutoUpdateManager.hpp"

#include "AppFlow.hpp"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace autoupdatekit {

std::string rawValue(AutoUpdateDecision decision) {
    switch (decision) {
        case AutoUpdateDecision::installNow: return "installNow";
        case AutoUpdateDecision::later: return "later";
        case AutoUpdateDecision::skipThisVersion: return "skipThisVersion";
        case AutoUpdateDecision::installOnQuit: return "installOnQuit";
    }
    return "later";
}

void AutoUpdateManager::installAndRelaunch(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                           const AutoUpdateAppCallbacks& callbacks) {
    handOverAndQuit(candidate, configuration, AppDispatch(callbacks, false), {}, InstallPath::deferredScript);
}

void AutoUpdateManager::installWithPrivilegedHelperAndRelaunch(const AutoUpdateCandidate& candidate,
                                                               const AutoUpdateConfiguration& configuration,
                                                               const AutoUpdateAppCallbacks& callbacks,
                                                               const std::optional<std::string>& machServiceName) {
    handOverAndQuit(candidate, configuration, AppDispatch(callbacks, false), {}, InstallPath::privilegedHelper, machServiceName);
}

void AutoUpdateManager::installOnQuit(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                      const Log& log) {
    installWhenTheAppQuits(candidate, configuration, AppDispatch({.log = log}, false));
}

AutoUpdateDecision AutoUpdateManager::decideAndAct(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                                   const AutoUpdateAppCallbacks& callbacks) {
    // Nothing cancels a call that runs on its caller's thread.
    return *autoupdatekit::decideAndAct(candidate, configuration, AppDispatch(callbacks, false), {});
}

void AutoUpdateManager::checkInstallAndRelaunchFromMainBundleIfConfigured(const Log& log) {
    checkInstallAndRelaunchFromMainBundleIfConfigured(AutoUpdateAppCallbacks{.log = log});
}

namespace {

// The start-up check, on whichever thread calls it.
AutoUpdateOutcome startUpCheck(const AppDispatch& app, const CheckCancellation& cancellation) {
    std::optional<AutoUpdateConfiguration> configuration;
    try {
        configuration = AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
    } catch (const AutoUpdateError& error) {
        app.log(failureLine(error));
        return {std::nullopt, error, std::nullopt};
    }
    if (!configuration) {
        app.log("AutoUpdateKit: no manifest URL/public key configured; skipping check.");
        return {AutoUpdateCheckResult::notConfigured(), std::nullopt, std::nullopt};
    }
    return checkAndAct(*configuration, app, cancellation);
}

}  // namespace

void AutoUpdateManager::checkInstallAndRelaunchFromMainBundleIfConfigured(const AutoUpdateAppCallbacks& callbacks) {
    startUpCheck(AppDispatch(callbacks, false), {});
}

class AutoUpdateBackgroundCheck::State {
public:
    CheckCancellation cancellation;
    std::thread worker;
};

AutoUpdateBackgroundCheck AutoUpdateManager::checkInstallAndRelaunchInBackground(AutoUpdateAppCallbacks callbacks) {
    auto state = std::make_shared<AutoUpdateBackgroundCheck::State>();
    state->worker = std::thread([cancellation = state->cancellation, app = AppDispatch(std::move(callbacks), true)] {
        app.finished(startUpCheck(app, cancellation));
    });
    return AutoUpdateBackgroundCheck(state);
}

AutoUpdateBackgroundCheck::AutoUpdateBackgroundCheck(std::shared_ptr<State> state) : state_(std::move(state)) {}

AutoUpdateBackgroundCheck::~AutoUpdateBackgroundCheck() {
    cancel();
    wait();
}

AutoUpdateBackgroundCheck::AutoUpdateBackgroundCheck(AutoUpdateBackgroundCheck&&) noexcept = default;

AutoUpdateBackgroundCheck& AutoUpdateBackgroundCheck::operator=(AutoUpdateBackgroundCheck&& other) noexcept {
    if (this != &other) {
        cancel();
        wait();
        state_ = std::move(other.state_);
    }
    return *this;
}

void AutoUpdateBackgroundCheck::cancel() {
    if (state_) state_->cancellation.cancel();
}

void AutoUpdateBackgroundCheck::wait() {
    if (state_ && state_->worker.joinable() && state_->worker.get_id() != std::this_thread::get_id()) state_->worker.join();
}

}  // namespace autoupdatekit
