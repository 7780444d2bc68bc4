#pragma once
// One update check from end to end: fetch and verify the signed manifest, compare
// versions, honour a suppressed update, check the minimum system version, then
// download, hash, unpack and validate the archive into the staging directory.

#include "AutoUpdateKit/AutoUpdateCheckOptions.hpp"
#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/AutoUpdateConsent.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/Export.hpp"

#include "Platform/HTTPSession.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace autoupdatekit {

class AUTOUPDATEKIT_EXPORT AutoUpdateManager {
public:
    // Receives one line of text; callable from any thread.
    using Log = std::function<void(const std::string& line)>;

    AutoUpdateManager(AutoUpdateConfiguration configuration, std::shared_ptr<const platform::HTTPSession> session);

    // Runs the check; failures are AutoUpdateError cases or platform errors passed
    // through unchanged. The observer, when given, sees the archive download's progress;
    // the log, when given, hears of a defaults file that could not be read (and was
    // taken as holding no suppressed update). A newer release of an app that belongs to
    // a package of the system's package manager (dpkg) is never fetched:
    // AutoUpdateError::managedByPackageManager.
    AutoUpdateCheckResult checkForUpdate(const platform::ProgressObserver& downloadObserver = {}, const Log& log = {}) const;

    // The same with every option: a cancelled check ends with AutoUpdateError::cancelled
    // and leaves no partial download; a scheduled one may pass over a release the user
    // skipped or one not yet rolled out to this machine (logged, then up to date).
    AutoUpdateCheckResult checkForUpdate(const AutoUpdateCheckOptions& options) const;

    // Configures from the main bundle, checks, and logs exactly one line. Never fails.
    static void checkFromMainBundleIfConfigured(const Log& log);

    // Called once per install, after planning; a positive number of seconds is a grace
    // period (at most 3 s) before the hand-over.
    using BeforeRelaunch = std::function<std::optional<double>()>;

    // Plans, starts the deferred install script and ends the process with status 0.
    // Returns only by throwing (planning or launch errors); nothing has changed then.
    [[noreturn]] static void installAndRelaunch(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                                const BeforeRelaunch& beforeRelaunch, const Log& log);

    // Plans, installs the helper if it is missing, hands the request to it and ends the
    // process with status 0. Returns only by throwing.
    [[noreturn]] static void installWithPrivilegedHelperAndRelaunch(const AutoUpdateCandidate& candidate,
                                                                    const AutoUpdateConfiguration& configuration,
                                                                    const std::optional<std::string>& machServiceName,
                                                                    const BeforeRelaunch& beforeRelaunch, const Log& log);

    // Configures, checks and, for a ready update, installs through the deferred script.
    // Returns when there is nothing to install or a step failed (logged, not thrown).
    static void checkInstallAndRelaunchFromMainBundleIfConfigured(const Log& log);
    // The same with the download's progress, and the app's consent: without one, a ready
    // update is installed at once.
    static void checkInstallAndRelaunchFromMainBundleIfConfigured(const Log& log, const platform::ProgressObserver& progress,
                                                                  const AutoUpdateConsent& consent = {});

    // Asks the consent (none means install now) and acts on the answer: installNow
    // installs through the deferred script and ends the process; skipThisVersion keeps
    // the update identifier for scheduled checks to pass over; later does nothing. Logs
    // the decision and returns it.
    static AutoUpdateDecision decideAndAct(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                           const AutoUpdateConsent& consent, const Log& log);

    const AutoUpdateConfiguration& configuration() const noexcept { return configuration_; }

private:
    // The main bundle's configuration; nothing (after logging why) when there is none.
    static std::optional<AutoUpdateConfiguration> mainBundleConfiguration(const Log& log);

    SignedUpdateManifest loadManifest(const CheckCancellation& cancellation) const;
    platform::FileURL downloadArchive(const SignedUpdateManifest& manifest, const AutoUpdateCheckOptions& options) const;
    void resetStagingDirectory() const;
    platform::FileURL extractArchive(const platform::FileURL& archive, const std::string& expectedAppName) const;
    void validateExtractedApp(const platform::FileURL& app, const SignedUpdateManifest& manifest) const;

    AutoUpdateConfiguration configuration_;
    std::shared_ptr<const platform::HTTPSession> session_;
};

}  // namespace autoupdatekit
