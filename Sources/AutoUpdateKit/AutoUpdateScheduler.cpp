#include "AutoUpdateKit/AutoUpdateScheduler.hpp"

#include "AppFlow.hpp"
#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "CheckLock.hpp"
#include "ClientSettings.hpp"
#include "InstalledApp.hpp"
#include "StagingDirectory.hpp"

#include "Platform/Identifiers.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <random>

namespace autoupdatekit {
namespace {

constexpr std::chrono::seconds defaultInterval{86400};
constexpr std::chrono::seconds shortestConfiguredInterval{3600};
// Longer intervals count as a year, which keeps the time arithmetic far from overflow.
constexpr std::chrono::seconds longestInterval{366LL * 86400};

std::chrono::system_clock::time_point wholeSecondsNow() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

// The interval, shortened or lengthened by up to a tenth at random.
std::chrono::system_clock::duration spread(std::chrono::seconds interval) {
    std::random_device entropy;
    double factor = std::uniform_real_distribution<double>(0.9, 1.1)(entropy);
    return std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(static_cast<double>(interval.count()) * factor));
}

}  // namespace

class AutoUpdateScheduler::State {
public:
    State(AutoUpdateConfiguration configured, AutoUpdateAppCallbacks callbacks, AutoUpdateCheckTiming checkTiming)
        : configuration(std::move(configured)), app(std::move(callbacks), true), timing(checkTiming) {}

    void run();
    // When the next check is due: an interval from now, or for the first one an interval
    // from the last check kept, but not before the delay.
    std::chrono::system_clock::time_point nextCheck(bool first) const;

    const AutoUpdateConfiguration configuration;
    const AppDispatch app;
    const AutoUpdateCheckTiming timing;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    CheckCancellation inFlight;
    std::thread worker;
};

AutoUpdateScheduler::AutoUpdateScheduler(AutoUpdateConfiguration configuration, AutoUpdateAppCallbacks callbacks,
                                         AutoUpdateCheckTiming timing)
    : state_(std::make_shared<State>(std::move(configuration), std::move(callbacks), timing)) {}

AutoUpdateScheduler::~AutoUpdateScheduler() { stop(); }

void AutoUpdateScheduler::start() {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->worker.joinable()) return;
    try {
        StagingDirectory(state_->configuration.stagingDirectory).emptyUnlessNewerThan(bundleVersion(installedApp(state_->configuration).bundle()));
    } catch (const std::exception& error) {
        state_->app.log(std::string("AutoUpdateKit: the staging directory was left as it is: ") + error.what());
    }
    state_->stopping = false;
    state_->worker = std::thread([state = state_] { state->run(); });
}

void AutoUpdateScheduler::stop() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->stopping = true;
        state_->inFlight.cancel();
    }
    state_->wake.notify_all();
    if (state_->worker.joinable() && state_->worker.get_id() != std::this_thread::get_id()) state_->worker.join();
}

std::chrono::seconds AutoUpdateScheduler::configuredInterval(const AutoUpdateConfiguration& configuration) {
    auto configured = ClientSettings(installedApp(configuration).bundle()).integer(checkIntervalKey);
    if (!configured) return defaultInterval;
    return std::clamp(std::chrono::seconds(*configured), shortestConfiguredInterval, longestInterval);
}

std::optional<AutoUpdateCheckResult> AutoUpdateScheduler::runScheduledCheck(const AutoUpdateConfiguration& configuration,
                                                                             AutoUpdateCheckOptions options) {
    options.scheduled = true;
    std::optional<CheckLock> lock;
    try {
        lock.emplace(platform::FileURL(configuration.stagingDirectory));
    } catch (const std::exception& error) {
        throw AutoUpdateError::stagingFailed(configuration.stagingDirectory, error.what());
    }
    if (!lock->held()) {
        if (options.log) options.log("AutoUpdateKit: another update check of this app is running; this one is skipped.");
        return std::nullopt;
    }
    // A time that cannot be kept costs only an early check at the next start.
    auto recordFinish = [&] {
        auto finished = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
        try {
            ClientSettings(installedApp(configuration).bundle())
                .setRecord(lastCheckTimeKey, platform::PropertyValue(platform::iso8601UTC(finished)));
        } catch (const std::exception& error) {
            if (options.log) options.log(std::string("AutoUpdateKit: the time of the check was not kept: ") + error.what());
        }
    };
    AutoUpdateCheckResult result;
    try {
        result = AutoUpdateManager(configuration).checkForUpdate(options);
    } catch (const AutoUpdateError& error) {
        if (error.errorCase() != AutoUpdateError::Case::cancelled) recordFinish();
        throw;
    }
    recordFinish();
    return result;
}

bool AutoUpdateScheduler::installsAutomatically(const AutoUpdateConfiguration& configuration) {
    return ClientSettings(installedApp(configuration).bundle()).flag(automaticInstallsKey).value_or(false);
}

void AutoUpdateScheduler::setInstallsAutomatically(const AutoUpdateConfiguration& configuration, bool automatically) {
    try {
        ClientSettings(installedApp(configuration).bundle()).setRecord(automaticInstallsKey, platform::PropertyValue(automatically));
    } catch (const std::exception& error) {
        throw AutoUpdateError::stagingFailed(configuration.appPath, error.what());
    }
}

std::chrono::system_clock::time_point AutoUpdateScheduler::State::nextCheck(bool first) const {
    auto interval = std::min(timing.interval.value_or(configuredInterval(configuration)), longestInterval);
    auto now = wholeSecondsNow();
    auto spreadInterval = spread(interval);
    if (!first) return now + spreadInterval;
    auto due = now + timing.firstCheckDelay;
    auto stored = ClientSettings(installedApp(configuration).bundle()).record(lastCheckTimeKey);
    const auto* text = stored ? stored->getIf<std::string>() : nullptr;
    // A last check in the future (a clock set back) delays no more than one interval.
    if (auto last = text ? platform::parseISO8601(*text) : std::nullopt) {
        due = std::max(due, std::min(*last + spreadInterval, now + spreadInterval));
    }
    return due;
}

void AutoUpdateScheduler::State::run() {
    for (bool first = true;; first = false) {
        if (!ClientSettings(installedApp(configuration).bundle()).flag(automaticChecksKey).value_or(true)) {
            app.log("AutoUpdateKit: automatic checks are turned off.");
            return;
        }
        auto due = nextCheck(first);
        CheckCancellation cancellation;
        {
            std::unique_lock<std::mutex> guard(lock);
            if (wake.wait_until(guard, due, [this] { return stopping; })) return;
            inFlight = cancellation;
        }
        AutoUpdateOutcome outcome = checkAndAct(configuration, app, cancellation);
        // Once the install is handed over, or waits for the app's end, there is nothing
        // left to check for in this run of the app.
        if (outcome.decision == AutoUpdateDecision::installNow || outcome.decision == AutoUpdateDecision::installOnQuit) return;
    }
}

}  // namespace autoupdatekit
