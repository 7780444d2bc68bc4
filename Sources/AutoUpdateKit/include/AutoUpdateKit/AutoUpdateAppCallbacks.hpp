#pragma once
// How the library reaches the app during the scheduler's checks and the start-up check:
// on which thread, and how the app hears, decides, saves and quits.

#include "AutoUpdateKit/AutoUpdateCheckOptions.hpp"
#include "AutoUpdateKit/AutoUpdateConsent.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"

#include <functional>
#include <optional>

namespace autoupdatekit {

// Runs a piece of work on the app's own thread, typically by posting it to the app's
// main loop. It must not run the work before it returns when called from that thread.
using AutoUpdateExecutor = std::function<void(std::function<void()> work)>;

// How a check ended: its result, or the error that ended it, and the app's decision
// over a ready update.
struct AutoUpdateOutcome {
    std::optional<AutoUpdateCheckResult> result;
    std::optional<AutoUpdateError> error;
    std::optional<AutoUpdateDecision> decision;
};

struct AutoUpdateAppCallbacks {
    // Where every callback below runs. None: on the library's own thread (the
    // scheduler's, or the background check's), so the callbacks must be thread-safe.
    // The blocking start-up call runs them on its caller's thread instead.
    AutoUpdateExecutor executor = {};
    AutoUpdateLog log = {};
    AutoUpdateProgressObserver progress = {};
    // Decides over a ready update; none installs it at once. The check waits for the
    // answer, and a stopped scheduler or cancelled check stops waiting.
    AutoUpdateConsent consent = {};
    // Called just before an install is handed over; a positive number of seconds is a
    // grace period (at most 3 s) before it.
    std::function<std::optional<double>()> beforeInstall = {};
    // Called once an install-now is handed over: the app saves its work and quits on
    // its own terms, and the install starts once the process has ended. None: the
    // process exits at once with status 0.
    std::function<void()> quit = {};
    // The end of a background check.
    std::function<void(const AutoUpdateOutcome& outcome)> finished = {};
};

}  // namespace autoupdatekit
