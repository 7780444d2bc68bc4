#pragma once
// One update check from end to end: fetch and verify the signed manifest, compare
// versions, honour a suppressed update, check the minimum system version, then
// download (or reuse an earlier download), hash, unpack and validate the archive into
// the staging directory. And the hand-over of a ready update to what installs it once
// the app has quit.
//
// Every failure these calls report is an AutoUpdateError.

#include "AutoUpdateKit/AutoUpdateAppCallbacks.hpp"
#include "AutoUpdateKit/AutoUpdateCheckOptions.hpp"
#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/AutoUpdateConsent.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/Export.hpp"

#include <memory>
#include <optional>
#include <string>

namespace autoupdatekit {

class AutoUpdateBackgroundCheck;

class AUTOUPDATEKIT_EXPORT AutoUpdateManager {
public:
    using Log = AutoUpdateLog;

    explicit AutoUpdateManager(AutoUpdateConfiguration configuration);
    ~AutoUpdateManager();
    AutoUpdateManager(AutoUpdateManager&&) noexcept;
    AutoUpdateManager& operator=(AutoUpdateManager&&) noexcept;

    // Runs the check on the calling thread, which hears the options' callbacks. A
    // cancelled check ends with AutoUpdateError::cancelled and leaves no partial
    // download; a scheduled one may pass over a release the user skipped or one not yet
    // rolled out to this machine (logged, then up to date). A newer release of an app
    // that belongs to a package of the system's package manager (dpkg) is never
    // fetched: AutoUpdateError::managedByPackageManager. When the server offers nothing
    // newer, what the staging directory holds is removed.
    AutoUpdateCheckResult checkForUpdate(const AutoUpdateCheckOptions& options = {}) const;

    const AutoUpdateConfiguration& configuration() const noexcept;

    // The direct hand-over of a ready update. Each calls beforeInstall (with its grace
    // period), hands the install over, then asks the app to quit through quit (none:
    // the process exits with status 0); the install runs once the process has ended and
    // then relaunches the app. They run the callbacks on the calling thread. A failure
    // throws AutoUpdateError::installHandOverFailed (or privilegedHelperRequiresTeam-
    // Identifier) and changes nothing.
    //
    // By the deferred install script, as the user who runs the app.
    static void installAndRelaunch(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                   const AutoUpdateAppCallbacks& callbacks = {});
    // By the app's privileged helper, installed first (through the administrator
    // prompt) when missing. The service name defaults to the configuration's.
    static void installWithPrivilegedHelperAndRelaunch(const AutoUpdateCandidate& candidate,
                                                       const AutoUpdateConfiguration& configuration,
                                                       const AutoUpdateAppCallbacks& callbacks = {},
                                                       const std::optional<std::string>& machServiceName = std::nullopt);
    // Keeps the staged update and installs it by the deferred script when the process
    // ends normally (returns from main or calls exit), without relaunching the app. A
    // later call replaces the earlier one.
    static void installOnQuit(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                              const Log& log = {});

    // Asks the consent (none means install now) and acts on the answer as above:
    // installNow hands over and asks to quit, installOnQuit waits for the app's end,
    // skipThisVersion keeps the update identifier for scheduled and start-up checks to
    // pass over (unless it is critical), later keeps the staged update for the next check,
    // or for a critical update installs it on quit (and returns installOnQuit). Logs the
    // decision and returns what is done. Runs every callback on the calling thread.
    static AutoUpdateDecision decideAndAct(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                           const AutoUpdateAppCallbacks& callbacks);

    // Configures from the running app, checks, and logs exactly one line. Never throws.
    static void checkFromMainBundleIfConfigured(const Log& log);

    // The start-up check: configures from the running app, checks as a scheduled check
    // does (a skipped release or one not yet rolled out is passed over; the time is
    // kept), and hands a ready update to the consent and decideAndAct. Blocks its
    // caller and runs every callback on the calling thread; returns when nothing is to
    // be installed now or a step failed (logged, never thrown).
    static void checkInstallAndRelaunchFromMainBundleIfConfigured(const Log& log);
    static void checkInstallAndRelaunchFromMainBundleIfConfigured(const AutoUpdateAppCallbacks& callbacks);
    // The same on a thread of the library's: returns at once, runs the callbacks through
    // the executor and ends with finished. Destroying or cancelling the handle stops it.
    static AutoUpdateBackgroundCheck checkInstallAndRelaunchInBackground(AutoUpdateAppCallbacks callbacks);

private:
    class Check;
    std::unique_ptr<Check> check_;
};

// A start-up check running in the background.
class AUTOUPDATEKIT_EXPORT AutoUpdateBackgroundCheck {
public:
    // Cancels the check and waits for its thread.
    ~AutoUpdateBackgroundCheck();
    AutoUpdateBackgroundCheck(AutoUpdateBackgroundCheck&&) noexcept;
    AutoUpdateBackgroundCheck& operator=(AutoUpdateBackgroundCheck&&) noexcept;

    // Stops the check at its next step, or a wait for the consent; returns at once.
    void cancel();
    // Waits until the check has ended and its finished callback was handed over.
    void wait();

    class State;

private:
    friend class AutoUpdateManager;
    explicit AutoUpdateBackgroundCheck(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

}  // namespace autoupdatekit
