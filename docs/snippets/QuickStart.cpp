// The guide's first call: check at start-up and install a ready update after the app exits.

#include <AutoUpdateKit/AutoUpdateKit.h>

#include <iostream>

void checkAtStartUp() {
    // [guide:quick-start]
    autoupdatekit::AutoUpdateManager::checkInstallAndRelaunchFromMainBundleIfConfigured(
        [](const std::string& line) { std::cerr << line << "\n"; });
    // [/guide]
}
