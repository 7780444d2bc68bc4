// The app of the end-to-end demo and tests: a small app with a main loop and an open
// document that it must save before it quits. Every launch appends "<version> <uid>" to
// the file its Info.plist names under "SampleMarkerPath", and saving appends "saved
// <version>", so one can see which version ran, as whom, and that the work was saved
// before the update was installed.
//
// Modes (the first argument):
//   start-up                 the one-call start-up check; a ready update is installed now
//   deferred                 the same (the older name)
//   privileged               checks, then hands a ready update to the privileged helper
//   check                    only checks and logs
//   scheduled <answer>       the background scheduler; its consent answers as told
//   background <answer>      the start-up check on a library thread, with its consent
// where <answer> is install, later, skip or on-quit. Every callback runs on the main
// loop; one that does not says so in the log ("not on the main thread").

#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "AutoUpdateKit/AutoUpdateScheduler.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/Identifiers.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

using namespace autoupdatekit;

// The app's main loop: work posted from any thread runs here, in order.
class MainLoop {
public:
    void post(std::function<void()> work) {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(std::move(work));
        wake_.notify_one();
    }
    // Runs posted work until quit() or the time limit; true when quit() ended it.
    bool run(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> guard(lock_);
        end_ = std::chrono::steady_clock::now() + limit;
        while (!quitting_) {
            if (queue_.empty() && wake_.wait_until(guard, end_) == std::cv_status::timeout) return false;
            while (!queue_.empty()) {
                auto work = std::move(queue_.front());
                queue_.pop_front();
                guard.unlock();
                work();
                guard.lock();
            }
        }
        return true;
    }
    void quit() { quitting_ = true; }
    // Brings the time limit forward; called from the loop's own work.
    void stopAfter(std::chrono::seconds delay) { end_ = std::min(end_, std::chrono::steady_clock::now() + delay); }
    bool onThisThread() const { return std::this_thread::get_id() == thread_; }

private:
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool quitting_ = false;
    std::chrono::steady_clock::time_point end_;
    std::thread::id thread_ = std::this_thread::get_id();
};

MainLoop mainLoop;
std::optional<std::string> markerPath;
std::string runningVersion = "?";

void appendToMarker(const std::string& line) {
    if (markerPath) std::ofstream(*markerPath, std::ios::app) << line << "\n";
}

void recordLaunch() {
    std::optional<platform::Bundle> bundle;
    try {
        bundle = platform::Bundle::main();
    } catch (const platform::PropertyListError&) {
        return;  // an Info.plist that does not parse names no marker
    }
    const auto& info = bundle->infoDictionary();
    if (const std::string* marker = platform::PropertyList::stringValue(info, "SampleMarkerPath")) markerPath = *marker;
    if (const std::string* version = platform::PropertyList::stringValue(info, "CFBundleShortVersionString")) runningVersion = *version;
    appendToMarker(runningVersion + " " + std::to_string(::getuid()));
}

void log(const std::string& line) {
    std::cerr << line << (mainLoop.onThisThread() ? "" : " (not on the main thread)") << "\n";
}

// What an editor does before it quits: saves its documents, then leaves its main loop.
void saveAndQuit() {
    log("saving the open document, then quitting");
    appendToMarker("saved " + runningVersion);
    mainLoop.quit();
}

AutoUpdateDecision decisionFor(const std::string& answer) {
    if (answer == "install") return AutoUpdateDecision::installNow;
    if (answer == "skip") return AutoUpdateDecision::skipThisVersion;
    if (answer == "on-quit") return AutoUpdateDecision::installOnQuit;
    return AutoUpdateDecision::later;
}

// The callbacks an app gives: all of them on its main loop, quitting on its own terms.
AutoUpdateAppCallbacks appCallbacks(const std::string& answer) {
    AutoUpdateAppCallbacks callbacks;
    callbacks.executor = [](std::function<void()> work) { mainLoop.post(std::move(work)); };
    callbacks.log = log;
    callbacks.consent = [answer](const AutoUpdateCandidate& candidate) {
        const auto& payload = candidate.manifest.payload;
        log("consent> update " + payload.version + " (" + payload.build + "), released " + platform::iso8601UTC(payload.releaseDate) +
            ", " + std::to_string(payload.archiveSize) + " bytes" + (candidate.reusedDownload ? ", downloaded before" : ""));
        log("consent> notes: " + payload.releaseNotes.value_or("(none)"));
        AutoUpdateDecision decision = decisionFor(answer);
        log("consent> the user answers " + rawValue(decision));
        // The user goes on working a little (one more scheduled check), then quits.
        if (decision != AutoUpdateDecision::installNow) mainLoop.stopAfter(std::chrono::seconds(3));
        return decision;
    };
    callbacks.beforeInstall = [] { return std::optional<double>(0.2); };
    callbacks.quit = saveAndQuit;
    return callbacks;
}

int updatePrivileged() {
    try {
        auto configuration = AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
        if (!configuration) return 1;
        AutoUpdateCheckOptions options;
        options.log = log;
        auto result = AutoUpdateManager(*configuration).checkForUpdate(options);
        log("AutoUpdateKit: " + result.logDescription());
        const auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&result.value);
        if (ready == nullptr) return 0;
        AutoUpdateAppCallbacks callbacks = appCallbacks("install");
        callbacks.executor = {};  // a direct call runs its callbacks on this thread
        AutoUpdateManager::installWithPrivilegedHelperAndRelaunch(ready->candidate, *configuration, callbacks);
        return 0;
    } catch (const AutoUpdateError& error) {
        log("AutoUpdateKit: " + error.logDescription());
        return 1;
    }
}

// The scheduler checks every 2 s (a demo cannot wait an hour); the app runs its loop
// until it is asked to quit, or a few seconds after the user answered.
int runScheduler(const std::string& answer) {
    auto configuration = AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
    if (!configuration) return 1;
    AutoUpdateScheduler scheduler(*configuration, appCallbacks(answer), {std::chrono::seconds(2), std::chrono::seconds(0)});
    scheduler.start();
    bool quit = mainLoop.run(std::chrono::seconds(60));
    scheduler.stop();
    if (!quit) saveAndQuit();
    return 0;
}

int runInBackground(const std::string& answer) {
    AutoUpdateAppCallbacks callbacks = appCallbacks(answer);
    callbacks.finished = [](const AutoUpdateOutcome& outcome) {
        log("the start-up check has ended" + std::string(outcome.error ? " with an error" : ""));
        if (!outcome.decision || *outcome.decision != AutoUpdateDecision::installNow) saveAndQuit();
    };
    auto check = AutoUpdateManager::checkInstallAndRelaunchInBackground(callbacks);
    mainLoop.run(std::chrono::seconds(60));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    recordLaunch();
    std::string mode = argc > 1 ? argv[1] : "";
    std::string answer = argc > 2 ? argv[2] : "later";
    if (mode == "deferred" || mode == "start-up") {
        AutoUpdateAppCallbacks callbacks = appCallbacks("install");
        callbacks.executor = {};
        callbacks.consent = {};
        AutoUpdateManager::checkInstallAndRelaunchFromMainBundleIfConfigured(callbacks);
        return 0;
    }
    if (mode == "privileged") return updatePrivileged();
    if (mode == "scheduled") return runScheduler(answer);
    if (mode == "background") return runInBackground(answer);
    if (mode == "check") AutoUpdateManager::checkFromMainBundleIfConfigured(log);
    return 0;
}
