// The app of the end-to-end demo and tests. Every run appends "<version> <uid>" to the
// file its Info.plist names under "SampleMarkerPath", so one can see which version ran
// and as whom. With "deferred" or "privileged" it checks its feed and, for a ready
// update, hands it over the way an app embedding the client would, then ends; with
// "check" it only checks and logs.

#include "AutoUpdateKit/AutoUpdateManager.hpp"

#include "Platform/Bundle.hpp"

#include <fstream>
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
    if (mode == "check") autoupdatekit::AutoUpdateManager::checkFromMainBundleIfConfigured(log);
    return 0;
}
