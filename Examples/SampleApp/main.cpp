// The shortest working app: at start it checks its feed and, when a newer signed
// release is ready, installs it after it exits and is reopened as the new version.
//
// Its bundle's Info.plist carries the feed:
//   AutoUpdateManifestURL        https://updates.example.com/sample/manifest.json
//   AutoUpdateManifestPublicKey  <the base64 public key from autoupdate-manifest keygen>

#include <AutoUpdateKit/AutoUpdateKit.h>

#include <iostream>

int main() {
    // Returns when there is nothing to install (or a step failed, which it logs);
    // otherwise the process ends here and the update is installed after it.
    autoupdatekit::AutoUpdateManager::checkInstallAndRelaunchFromMainBundleIfConfigured(
        [](const std::string& line) { std::cerr << line << "\n"; });

    std::cout << "Sample app running, version "
              << autoupdatekit::AppVersion::of(platform::Bundle::main()).version << "\n";
    return 0;
}
