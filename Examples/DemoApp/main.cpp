// The app of the end-to-end demo and tests. Every run appends "<version> <uid>" to the
// file its Info.plist names under "SampleMarkerPath", so one can see which version ran
// and as whom. With "deferred" or "privileged" it checks its feed and, for a ready
// update, hands it over the way an app embedding the client would, then ends; with
// "check" it only checks and logs; with "scheduled <install|later|skip>" it runs the
// background scheduler, shows the ready update to its consent callback, which answers
// as told, and stops after the next scheduled check.

#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "AutoUpdateKit/AutoUpdateScheduler.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/Identifiers.hpp"

#include <atomic>
#include <fstream>
#include <thread>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace {

void recordLaunch() {
    std::optional<platform::Bundle> bundle;
    try {
        bundle = platform::Bundle::main();
    } catch (const platform::PropertyListError&) {
        return;  // an Info.plist that does not parse names no marker
    }
    const auto& info = bundle->infoDictionary();
    const std::string* marker = platform::PropertyList::stringValue(info, "SampleMarkerPath");
    const std::string* version = platform::PropertyList::stringValue(info, "CFBundleShortVersionString");
    if (marker == nullptr) return;
    std::ofstream(*marker, std::ios::app) << (version ? *version : "?") << " " << ::getuid() << "\n";
}

int updatePrivileged(const autoupdatekit::AutoUpdateManager::Log& log) {
    auto configuration = autoupdatekit::AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
    if (!configuration) return 1;
    try {
        auto result = autoupdatekit::AutoUpdateManager(*configuration, platform::HTTPSession::shared()).checkForUpdate({}, log);
        log("AutoUpdateKit: " + result.logDescription());
        const auto* ready = std::get_if<autoupdatekit::AutoUpdateCheckResult::UpdateReady>(&result.value);
        if (ready == nullptr) return 0;
        autoupdatekit::AutoUpdateManager::installWithPrivilegedHelperAndRelaunch(
            ready->candidate, *configuration, std::nullopt, [] { return std::optional<double>(0.2); }, log);
    } catch (const std::exception& error) {
        log(std::string("AutoUpdateKit: ") + error.what());
        return 1;
    }
}

// Shows the candidate as an app's update window would, and answers as told.
autoupdatekit::AutoUpdateConsent consentAnswering(const std::string& answer, std::atomic<int>& asked) {
    return [answer, &asked](const autoupdatekit::AutoUpdateCandidate& candidate) {
        using autoupdatekit::AutoUpdateDecision;
        const auto& payload = candidate.manifest.payload;
        std::cerr << "consent> update " << payload.version << " (" << payload.build << "), released "
                  << platform::iso8601UTC(payload.releaseDate) << ", " << payload.archiveSize << " bytes\n"
                  << "consent> notes: " << payload.releaseNotes.value_or("(none)") << "\n";
        AutoUpdateDecision decision = answer == "install" ? AutoUpdateDecision::installNow
                                      : answer == "skip"  ? AutoUpdateDecision::skipThisVersion
                                                          : AutoUpdateDecision::later;
        std::cerr << "consent> the user answers " << autoupdatekit::rawValue(decision) << "\n";
        ++asked;
        return decision;
    };
}

int runScheduler(const std::string& answer, const autoupdatekit::AutoUpdateManager::Log& log) {
    auto configuration = autoupdatekit::AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
    if (!configuration) return 1;
    std::atomic<int> asked = 0;
    // A demo cannot wait an hour: checks every 2 s (±10%), the first one at once.
    autoupdatekit::AutoUpdateScheduler scheduler(*configuration, log, consentAnswering(answer, asked),
                                                 {std::chrono::seconds(2), std::chrono::seconds(0)});
    scheduler.start();
    for (int n = 0; n < 300 && asked == 0; ++n) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::seconds(3));  // one more scheduled check
    scheduler.stop();
    return asked > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    recordLaunch();
    auto log = [](const std::string& line) { std::cerr << line << "\n"; };
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "deferred") {
        autoupdatekit::AutoUpdateManager::checkInstallAndRelaunchFromMainBundleIfConfigured(log);
        return 1;  // reached only when nothing was handed over
    }
    if (mode == "privileged") return updatePrivileged(log);
    if (mode == "scheduled") return runScheduler(argc > 2 ? argv[2] : "later", log);
    if (mode == "check") autoupdatekit::AutoUpdateManager::checkFromMainBundleIfConfigured(log);
    return 0;
}
