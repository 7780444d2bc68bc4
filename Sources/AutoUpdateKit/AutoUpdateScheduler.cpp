#include "AutoUpdateKit/AutoUpdateScheduler.hpp"

#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "CheckLock.hpp"
#include "ClientSettings.hpp"

#include "Platform/Identifiers.hpp"

#include <algorithm>
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

AutoUpdateScheduler::AutoUpdateScheduler(AutoUpdateConfiguration configuration, Log log, AutoUpdateConsent consent,
                                         AutoUpdateCheckTiming timing)
    : configuration_(std::move(configuration)), log_(std::move(log)), consent_(std::move(consent)), timing_(timing) {}

AutoUpdateScheduler::~AutoUpdateScheduler() { stop(); }

void AutoUpdateScheduler::start() {
    std::lock_guard<std::mutex> guard(lock_);
    if (worker_.joinable()) return;
    stopping_ = false;
    worker_ = std::thread([this] { run(); });
}

void AutoUpdateScheduler::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        inFlight_.cancel();
    }
    wake_.notify_all();
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

std::chrono::seconds AutoUpdateScheduler::configuredInterval(const AutoUpdateConfiguration& configuration) {
    auto configured = ClientSettings(*configuration.currentBundle).integer(checkIntervalKey);
    if (!configured) return defaultInterval;
    return std::clamp(std::chrono::seconds(*configured), shortestConfiguredInterval, longestInterval);
}

std::optional<AutoUpdateCheckResult> AutoUpdateScheduler::runScheduledCheck(const AutoUpdateConfiguration& configuration,
                                                                             AutoUpdateCheckOptions options) {
    options.scheduled = true;
    CheckLock lock(configuration.stagingDirectory);
    if (!lock.held()) {
        if (options.log) options.log("AutoUpdateKit: another update check of this app is running; this one is skipped.");
        return std::nullopt;
    }
    ClientSettings settings(*configuration.currentBundle);
    auto recordFinish = [&] {
        auto finished = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
        settings.setRecord(lastCheckTimeKey, platform::PropertyValue(platform::iso8601UTC(finished)));
    };
    AutoUpdateCheckResult result;
    try {
        result = AutoUpdateManager(configuration, platform::HTTPSession::shared()).checkForUpdate(options);
    } catch (const AutoUpdateError& error) {
        if (error.errorCase() != AutoUpdateError::Case::cancelled) recordFinish();
        throw;
    } catch (...) {
        recordFinish();
        throw;
    }
    recordFinish();
    return result;
}

std::chrono::system_clock::time_point AutoUpdateScheduler::nextCheck(bool first) const {
    auto interval = std::min(timing_.interval.value_or(configuredInterval(configuration_)), longestInterval);
    auto now = wholeSecondsNow();
    auto spreadInterval = spread(interval);
    if (!first) return now + spreadInterval;
    auto due = now + timing_.firstCheckDelay;
    auto stored = ClientSettings(*configuration_.currentBundle).record(lastCheckTimeKey);
    const auto* text = stored ? stored->getIf<std::string>() : nullptr;
    // A last check in the future (a clock set back) delays no more than one interval.
    if (auto last = text ? platform::parseISO8601(*text) : std::nullopt) {
        due = std::max(due, std::min(*last + spreadInterval, now + spreadInterval));
    }
    return due;
}

void AutoUpdateScheduler::run() {
    for (bool first = true;; first = false) {
        if (!ClientSettings(*configuration_.currentBundle).flag(automaticChecksKey).value_or(true)) {
            log_("AutoUpdateKit: automatic checks are turned off.");
            return;
        }
        auto due = nextCheck(first);
        {
            std::unique_lock<std::mutex> guard(lock_);
            if (wake_.wait_until(guard, due, [this] { return stopping_; })) return;
            inFlight_ = CheckCancellation();
        }
        checkOnce();
    }
}

void AutoUpdateScheduler::checkOnce() {
    AutoUpdateCheckOptions options;
    options.log = log_;
    {
        std::lock_guard<std::mutex> guard(lock_);
        options.cancellation = inFlight_;
    }
    try {
        auto result = runScheduledCheck(configuration_, options);
        if (!result) return;
        log_("AutoUpdateKit: " + result->logDescription());
        if (const auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&result->value)) {
            AutoUpdateManager::decideAndAct(ready->candidate, configuration_, consent_, log_);
        }
    } catch (const std::exception& error) {
        log_(std::string("AutoUpdateKit: ") + error.what());
    }
}

}  // namespace autoupdatekit
