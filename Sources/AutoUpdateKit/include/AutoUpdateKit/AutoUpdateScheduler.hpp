#pragma once
// Background checks for the running app. Every "AutoUpdateCheckInterval" seconds (the
// app's defaults, then its Info.plist; 86400 when absent, never under 3600), spread by
// a random ±10% so a fleet does not reach the server at once; the first check a short
// while after start, or later when the last one (kept under "AutoUpdateLastCheckTime")
// was recent. A check is skipped while another check of the same app runs, and none
// runs when "AutoUpdateAutomaticChecks" is false. Scheduled checks pass over a skipped
// release and honour a phased rollout, unless the release is critical; a ready update
// goes to the app's consent, or, when "AutoUpdateAutomaticInstalls" is true, is
// installed when the app quits without asking.

#include "AutoUpdateKit/AutoUpdateAppCallbacks.hpp"
#include "AutoUpdateKit/AutoUpdateCheckOptions.hpp"
#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/Export.hpp"

#include <chrono>
#include <memory>
#include <optional>

namespace autoupdatekit {

// When the scheduler checks.
struct AutoUpdateCheckTiming {
    // The time between checks. Nothing: the app's configured interval, which is
    // never taken under an hour. A value given here is used as it is, for a demo or
    // a test that cannot wait an hour; the ±10% spread still applies.
    std::optional<std::chrono::seconds> interval = std::nullopt;
    // How long after start the first check runs, when none ran within the interval.
    std::chrono::seconds firstCheckDelay{60};
};

class AUTOUPDATEKIT_EXPORT AutoUpdateScheduler {
public:
    using Log = AutoUpdateLog;

    // The callbacks run through their executor (none: on the scheduler's own thread).
    // The consent decides over a ready update (see AutoUpdateManager::decideAndAct);
    // without one it is installed at once, and quit (or, without it, exit) ends the app.
    AutoUpdateScheduler(AutoUpdateConfiguration configuration, AutoUpdateAppCallbacks callbacks, AutoUpdateCheckTiming timing = {});
    // Stops.
    ~AutoUpdateScheduler();
    AutoUpdateScheduler(const AutoUpdateScheduler&) = delete;
    AutoUpdateScheduler& operator=(const AutoUpdateScheduler&) = delete;

    // Removes a staged update that is not newer than the running app, then starts the
    // background thread; does nothing when it runs already.
    void start();
    // Cancels a check in flight (or a wait for the consent) and waits for the thread to
    // end. Callbacks already handed to the executor still run.
    void stop();

    // The interval the app's settings give: 86400 s when absent, at least 3600 s (and at
    // most a year).
    static std::chrono::seconds configuredInterval(const AutoUpdateConfiguration& configuration);

    // "AutoUpdateAutomaticInstalls" (defaults, then Info.plist; false when absent): a
    // ready update found by a scheduled or start-up check is installed when the app
    // quits, without asking the consent. The setter writes the app's defaults and
    // throws AutoUpdateError::stagingFailed when they cannot be written.
    static bool installsAutomatically(const AutoUpdateConfiguration& configuration);
    static void setInstallsAutomatically(const AutoUpdateConfiguration& configuration, bool automatically);

    // One check as the scheduler runs it (options.scheduled is set), on the calling
    // thread: nothing, after a log line, when another check of the app holds the lock.
    // The time of a check that ended, with a result or an error, is kept; a cancelled
    // one keeps nothing. Throws AutoUpdateError.
    static std::optional<AutoUpdateCheckResult> runScheduledCheck(const AutoUpdateConfiguration& configuration,
                                                                  AutoUpdateCheckOptions options);

    class State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace autoupdatekit
