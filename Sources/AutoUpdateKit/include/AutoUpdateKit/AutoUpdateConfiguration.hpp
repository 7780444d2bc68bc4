#pragma once
// The update client's configuration: where the signed manifest lives, the key that must
// have signed it, the installed app, the staging directory and the privileged helper's
// service name.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/URL.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace autoupdatekit {

class InstalledApp;

struct AUTOUPDATEKIT_EXPORT AutoUpdateConfiguration {
    URL manifestURL;
    std::string publicKeyBase64;
    // The installed app bundle the updates replace (the running app's own).
    std::string appPath;
    std::string stagingDirectory;
    std::string privilegedHelperMachServiceName;
    // Further manifest keys beside publicKeyBase64 (which may then be empty), for a key
    // rotation; a manifest must be signed by keyThreshold distinct ones of all of them.
    std::vector<std::string> publicKeysBase64;
    std::int64_t keyThreshold = 1;
    // Refuse manifests without a signed expiry and sequence number.
    bool requireFreshManifest = false;
    // The release channel the app follows ("AutoUpdateChannel"): "stable", "beta" or any
    // name the manifest lists. An app on another channel than stable is also offered
    // stable's release when that is newer; a manifest without the app's channel is refused.
    std::string channel = "stable";

    // Without a staging directory, the default one is used: the user's caches folder,
    // the app's bundle identifier (or "AutoUpdateKit") and "AutoUpdateStaging". Only
    // the caches folder itself may be created here; when it cannot be, this throws
    // AutoUpdateError::stagingFailed.
    AutoUpdateConfiguration(URL manifestURL, std::string publicKeyBase64, std::string appPath,
                            std::optional<std::string> stagingDirectory, std::string privilegedHelperMachServiceName);

    // Reads "AutoUpdateManifestURL", "AutoUpdateManifestPublicKey",
    // "AutoUpdateManifestPublicKeys" (an array), "AutoUpdateManifestKeyThreshold",
    // "AutoUpdateRequireFreshManifest", "AutoUpdateChannel" and
    // "AutoUpdateMachServiceName" from the running app's user defaults, then its
    // Info.plist. Nothing when the URL or every key is missing or blank; a URL that does
    // not parse throws AutoUpdateError::invalidManifestURL, a threshold below 1 or above
    // the number of distinct keys AutoUpdateError::invalidManifestKeys.
    static std::optional<AutoUpdateConfiguration> fromMainBundleOrUserDefaults();

    // The same for a given app bundle, with that bundle's defaults domain.
    static std::optional<AutoUpdateConfiguration> fromAppOrUserDefaults(const std::string& appPath);

private:
    friend const InstalledApp& installedApp(const AutoUpdateConfiguration& configuration);
    // The app as read when configured: its Info.plist, or the running executable's own.
    std::shared_ptr<const InstalledApp> app_;
};

}  // namespace autoupdatekit
