#pragma once
// Runs the app's callbacks where it asked: posted through its executor, or on the
// calling thread when it gave none or the call blocks its caller anyway. A callback
// whose answer the check needs (the consent, the grace period) is waited for, but only
// until the check is cancelled, so a stopped scheduler never waits on a main loop that
// has ended.

#include "AutoUpdateKit/AutoUpdateAppCallbacks.hpp"

#include <optional>

namespace autoupdatekit {

class AppDispatch {
public:
    // With postThroughExecutor false the executor is never used.
    AppDispatch(AutoUpdateAppCallbacks callbacks, bool postThroughExecutor);

    void log(const std::string& line) const;
    AutoUpdateProgressObserver progress() const;
    // The consent's answer (installNow without one); nothing when cancelled first, or
    // when a consent run through the executor threw (the throw is the app's thread's).
    std::optional<AutoUpdateDecision> decide(const AutoUpdateCandidate& candidate, const CheckCancellation& cancellation) const;
    // The grace period the app asks for before a hand-over; nothing when cancelled first.
    std::optional<double> beforeInstall(const CheckCancellation& cancellation) const;
    // Asks the app to quit; without a quit callback the process exits with status 0
    // (on the app's thread when there is an executor).
    void quit() const;
    void finished(const AutoUpdateOutcome& outcome) const;

private:
    bool posts() const noexcept { return postThroughExecutor_ && callbacks_.executor; }
    void run(std::function<void()> work) const;
    // Runs the work where the callbacks run and waits for its answer.
    template <typename Answer>
    std::optional<Answer> answer(std::function<Answer()> work, const CheckCancellation& cancellation) const;

    AutoUpdateAppCallbacks callbacks_;
    bool postThroughExecutor_;
};

}  // namespace autoupdatekit
