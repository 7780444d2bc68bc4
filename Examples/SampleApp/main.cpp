// The shortest working app: at start it checks its feed and, when a newer signed
// release is ready, installs it after it exits and is reopened as the new version.
// Started with "privileged" (an app installed where its user cannot write, such as
// /Applications), it hands the update to its privileged helper instead.
//
// Its bundle's Info.plist carries the feed:
//   AutoUpdateManifestURL        https://updates.example.com/sample/manifest.json
//   AutoUpdateManifestPublicKey  <the base64 public key from autoupdate-manifest keygen>
//   AutoUpdateMachServiceName    com.example.sampleapp.PrivilegedUpdater (its helper)

#include <AutoUpdateKit/AutoUpdateKit.h>

#include <iostream>
#include <string>

namespace {

// Checks and, for a ready update, hands it to the helper; the process ends there.
int updateWithPrivilegedHelper(const autoupdatekit::AutoUpdateLog& log) {
    try {
        auto configuration = autoupdatekit::AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
        if (!configuration) return 1;
        auto result = autoupdatekit::AutoUpdateManager(*configuration).checkForUpdate();
        log("AutoUpdateKit: " + result.logDescription());
        const auto* ready = std::get_if<autoupdatekit::AutoUpdateCheckResult::UpdateReady>(&result.value);
        if (ready == nullptr) return 0;
        autoupdatekit::AutoUpdateManager::installWithPrivilegedHelperAndRelaunch(ready->candidate, *configuration, {.log = log});
        return 0;
    } catch (const autoupdatekit::AutoUpdateError& error) {
        log("AutoUpdateKit: " + error.logDescription());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::cout << "Sample app running, version "
              << autoupdatekit::AppVersion::ofRunningApp().version << "\n" << std::flush;
    auto log = [](const std::string& line) { std::cerr << line << "\n"; };
    if (argc > 1 && std::string(argv[1]) == "privileged") return updateWithPrivilegedHelper(log);
    // Returns when there is nothing to install (or a step failed, which it logs);
    // otherwise the process ends here and the update is installed after it.
    autoupdatekit::AutoUpdateManager::checkInstallAndRelaunchFromMainBundleIfConfigured(log);
    return 0;
}
