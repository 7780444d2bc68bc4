#include "AppDispatch.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace autoupdatekit {
namespace {

// How often a wait for the app looks at the cancellation switch.
constexpr auto cancellationPoll = std::chrono::milliseconds(100);

}  // namespace

AppDispatch::AppDispatch(AutoUpdateAppCallbacks callbacks, bool postThroughExecutor)
    : callbacks_(std::move(callbacks)), postThroughExecutor_(postThroughExecutor) {}

void AppDispatch::run(std::function<void()> work) const {
    if (posts()) callbacks_.executor(std::move(work));
    else work();
}

template <typename Answer>
std::optional<Answer> AppDispatch::answer(std::function<Answer()> work, const CheckCancellation& cancellation) const {
    if (!posts()) return work();
    struct Waiting {
        std::mutex lock;
        std::condition_variable answered;
        std::optional<Answer> answer;
        bool ended = false;
    };
    // Ends the wait however the app's callback returns, a throw included.
    struct EndWaiting {
        Waiting& waiting;
        ~EndWaiting() {
            std::lock_guard<std::mutex> guard(waiting.lock);
            waiting.ended = true;
            waiting.answered.notify_all();
        }
    };
    auto waiting = std::make_shared<Waiting>();
    // The work sees the switch too: once the wait has ended, the app is not asked any more.
    callbacks_.executor([waiting, work = std::move(work), cancellation] {
        if (cancellation.isCancelled()) return;
        EndWaiting end{*waiting};
        Answer answer = work();
        std::lock_guard<std::mutex> guard(waiting->lock);
        waiting->answer = std::move(answer);
    });
    std::unique_lock<std::mutex> guard(waiting->lock);
    while (!waiting->ended && !cancellation.isCancelled()) waiting->answered.wait_for(guard, cancellationPoll);
    return waiting->answer;
}

void AppDispatch::log(const std::string& line) const {
    if (callbacks_.log) run([log = callbacks_.log, line] { log(line); });
}

AutoUpdateProgressObserver AppDispatch::progress() const {
    if (!callbacks_.progress) return {};
    if (!posts()) return callbacks_.progress;
    return [executor = callbacks_.executor, progress = callbacks_.progress](const AutoUpdateProgress& step) {
        executor([progress, step] { progress(step); });
    };
}

std::optional<AutoUpdateDecision> AppDispatch::decide(const AutoUpdateCandidate& candidate,
                                                      const CheckCancellation& cancellation) const {
    if (!callbacks_.consent) return AutoUpdateDecision::installNow;
    return answer<AutoUpdateDecision>([consent = callbacks_.consent, candidate] { return consent(candidate); }, cancellation);
}

std::optional<double> AppDispatch::beforeInstall(const CheckCancellation& cancellation) const {
    if (!callbacks_.beforeInstall) return 0.0;
    return answer<double>([hook = callbacks_.beforeInstall] { return hook().value_or(0.0); }, cancellation);
}

void AppDispatch::quit() const {
    // Even the default exit runs on the app's thread when it gave an executor.
    run(callbacks_.quit ? callbacks_.quit : [] { std::exit(0); });
}

void AppDispatch::finished(const AutoUpdateOutcome& outcome) const {
    if (callbacks_.finished) run([finished = callbacks_.finished, outcome] { finished(outcome); });
}

}  // namespace autoupdatekit
