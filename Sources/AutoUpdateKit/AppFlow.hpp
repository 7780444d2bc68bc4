#pragma once
// What follows a check in the app: the app's decision over a ready update, the
// hand-over of the install to what outlives the app, the install on quit, and the
// check the scheduler and the start-up call run, all through one dispatch of the app's
// callbacks.

#include "AppDispatch.hpp"

#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"

#include <optional>
#include <string>

namespace autoupdatekit {

enum class InstallPath { deferredScript, privilegedHelper };

// beforeInstall with its grace period, the hand-over, then quit. Nothing happens when
// the check is cancelled while the app is asked. Throws AutoUpdateError.
void handOverAndQuit(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration, const AppDispatch& app,
                     const CheckCancellation& cancellation, InstallPath path,
                     const std::optional<std::string>& machServiceName = std::nullopt);

// Registers the deferred install to start when the process ends normally.
void installWhenTheAppQuits(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                            const AppDispatch& app);

// Asks and acts; nothing when the check was cancelled while the app was asked.
std::optional<AutoUpdateDecision> decideAndAct(const AutoUpdateCandidate& candidate, const AutoUpdateConfiguration& configuration,
                                               const AppDispatch& app, const CheckCancellation& cancellation);

// The scheduler's and the start-up call's check, then decideAndAct for a ready update.
// Never throws: an error is logged and returned, and what an app's callback throws on
// the calling thread is logged.
AutoUpdateOutcome checkAndAct(const AutoUpdateConfiguration& configuration, const AppDispatch& app,
                              const CheckCancellation& cancellation);

// "AutoUpdateKit: <description> (<detail>)", the form every log line of a failure takes.
std::string failureLine(const std::exception& error);

}  // namespace autoupdatekit
