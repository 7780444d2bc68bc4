#include "AppFlow.hpp"

#include "AutoUpdateKit/AutoUpdateScheduler.hpp"
#include "AutoUpdateKit/InstallationPlan.hpp"
#include "AutoUpdateKit/PrivilegedHelperBlesser.hpp"
#include "AutoUpdateKit/PrivilegedUpdateClient.hpp"
#include "ClientSettings.hpp"
#include "DeferredInstall.hpp"
#include "InstalledApp.hpp"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace autoupdatekit {
namespace {

constexpr double longestGracePeriod = 3.0;

InstallationPlan planFor(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration) {
    return InstallationPlanner::plan(installedApp(configuration).bundle().bundleURL(), platform::FileURL(candidate.extractedAppPath));
}

// The path with every link resolved; as it is when it cannot be resolved, for the
// helper to report.
std::string resolvedPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

void handOverToScript(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration, const AppDispatch& app,
                      bool relaunch) {
    InstallationPlan plan = planFor(candidate, configuration);
    app.log("AutoUpdateKit: install strategy " + rawValue(plan.strategy));
    app.log("AutoUpdateKit: scheduling deferred install for " + plan.currentAppURL.path());
    installAfterCurrentProcessExits(plan, updateIdentifier(candidate.manifest.payload),
                                    installedApp(configuration).bundle().bundleIdentifier(), relaunch);
}

void handOverToHelper(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration, const AppDispatch& app,
                      const std::optional<std::string>& machServiceName) {
    std::string service = machServiceName.value_or(configuration.privilegedHelperMachServiceName);
    const platform::Bundle& bundle = installedApp(configuration).bundle();
    InstallationPlan plan = planFor(candidate, configuration);
    app.log("AutoUpdateKit: install strategy privilegedHelper for " + plan.currentAppURL.path());
    if (!plan.currentTeamIdentifier || plan.currentTeamIdentifier->empty()) {
        throw AutoUpdateError::privilegedHelperRequiresTeamIdentifier();
    }
    auto bundleIdentifier = bundle.bundleIdentifier();
    if (!bundleIdentifier) throw InstallationPlanError::bundleIdentifierMissing(plan.currentAppURL);
    // The helper opens the staged app through no link at all, so a link on the way to
    // the caches folder (a linked home, say) is resolved here, as this user.
    PrivilegedUpdateRequest request(plan.currentAppURL.path(), resolvedPath(candidate.extractedAppPath), *bundleIdentifier,
                                    *plan.currentTeamIdentifier, updateIdentifier(candidate.manifest.payload),
                                    static_cast<std::int32_t>(::getpid()), true);
    app.log("AutoUpdateKit: scheduling privileged install for " + plan.currentAppURL.path());
    // The job label and the service name are the same text.
    PrivilegedHelperBlesser::ensureInstalled(service, bundle.bundleURL());
    PrivilegedUpdateClient(service).scheduleInstall(request);
}

// Every failure of a hand-over reaches the app as an AutoUpdateError.
template <typename Step>
void handingOver(Step step) {
    try {
        step();
    } catch (const AutoUpdateError&) {
        throw;
    } catch (const std::exception& error) {
        throw AutoUpdateError::installHandOverFailed(error.what());
    }
}

// The install that waits for the app's normal end: one per process, the latest kept.
struct InstallOnQuit {
    std::mutex lock;
    std::optional<AutoUpdateCandidate> candidate;
    std::optional<AutoUpdateConfiguration> configuration;
};

InstallOnQuit& installOnQuit() {
    // Never destroyed: the exit handler below runs after static destructors may have.
    static auto* pending = new InstallOnQuit;
    return *pending;
}

void startInstallOnQuit() {
    InstallOnQuit& pending = installOnQuit();
    std::lock_guard<std::mutex> guard(pending.lock);
    if (!pending.candidate) return;
    try {
        handOverToScript(*pending.candidate, *pending.configuration, AppDispatch({}, false), false);
    } catch (const std::exception&) {
        // The process is ending; the update stays staged for the next check.
    }
}

}  // namespace

std::string failureLine(const std::exception& error) {
    const auto* failure = dynamic_cast<const AutoUpdateError*>(&error);
    return "AutoUpdateKit: " + (failure ? failure->logDescription() : std::string(error.what()));
}

void handOverAndQuit(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration, const AppDispatch& app,
                     const CheckCancellation& cancellation, InstallPath path, const std::optional<std::string>& machServiceName) {
    std::optional<double> grace = app.beforeInstall(cancellation);
    if (!grace) return;
    if (*grace > 0) std::this_thread::sleep_for(std::chrono::duration<double>(std::min(*grace, longestGracePeriod)));
    handingOver([&] {
        if (path == InstallPath::privilegedHelper) handOverToHelper(candidate, configuration, app, machServiceName);
        else handOverToScript(candidate, configuration, app, true);
    });
    app.quit();
}

void installWhenTheAppQuits(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                            const AppDispatch& app) {
    // Planned now, so a plan that cannot be made is reported while the app still runs.
    handingOver([&] { planFor(candidate, configuration); });
    InstallOnQuit& pending = installOnQuit();
    std::lock_guard<std::mutex> guard(pending.lock);
    if (!pending.candidate) std::atexit(startInstallOnQuit);
    pending.candidate = candidate;
    pending.configuration = configuration;
    app.log("AutoUpdateKit: update " + updateIdentifier(candidate.manifest.payload) + " will be installed when the app quits");
}

std::optional<AutoUpdateDecision> decideAndAct(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                               const AppDispatch& app, const CheckCancellation& cancellation) {
    const auto& payload = candidate.manifest.payload;
    std::optional<AutoUpdateDecision> decision = app.decide(candidate, cancellation);
    if (!decision) return std::nullopt;
    app.log("AutoUpdateKit: update " + payload.version + " (" + payload.build + "): the app decided " + rawValue(*decision));
    switch (*decision) {
        case AutoUpdateDecision::skipThisVersion:
            handingOver([&] {
                ClientSettings(installedApp(configuration).bundle())
                    .setRecord(skippedVersionKey, platform::PropertyValue(updateIdentifier(payload)));
            });
            break;
        case AutoUpdateDecision::installNow:
            handOverAndQuit(candidate, configuration, app, cancellation, InstallPath::deferredScript);
            break;
        case AutoUpdateDecision::installOnQuit: installWhenTheAppQuits(candidate, configuration, app); break;
        case AutoUpdateDecision::later:
            // A critical update put off still lands, when the app ends.
            if (!candidate.critical) break;
            app.log("AutoUpdateKit: update " + payload.version + " (" + payload.build + ") is critical");
            installWhenTheAppQuits(candidate, configuration, app);
            return AutoUpdateDecision::installOnQuit;
    }
    return decision;
}

AutoUpdateOutcome checkAndAct(const AutoUpdateConfiguration& configuration, const AppDispatch& app,
                              const CheckCancellation& cancellation) {
    AutoUpdateOutcome outcome;
    try {
        AutoUpdateCheckOptions options;
        options.log = [&app](const std::string& line) { app.log(line); };
        options.progress = app.progress();
        options.cancellation = cancellation;
        outcome.result = AutoUpdateScheduler::runScheduledCheck(configuration, options);
        if (!outcome.result) return outcome;
        app.log("AutoUpdateKit: " + outcome.result->logDescription());
        const auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&outcome.result->value);
        if (ready && AutoUpdateScheduler::installsAutomatically(configuration)) {
            installWhenTheAppQuits(ready->candidate, configuration, app);
            outcome.decision = AutoUpdateDecision::installOnQuit;
        } else if (ready) {
            outcome.decision = decideAndAct(ready->candidate, configuration, app, cancellation);
        }
    } catch (const AutoUpdateError& error) {
        outcome.error = error;
        app.log(failureLine(error));
    } catch (const std::exception& error) {
        // Only the app's own callbacks throw anything else; the library's thread lives on.
        app.log(failureLine(error));
    }
    return outcome;
}

}  // namespace autoupdatekit
