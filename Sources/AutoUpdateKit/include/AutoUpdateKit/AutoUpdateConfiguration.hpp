#pragma once
// The update client's configuration: where the signed manifest lives, the key that must
// have signed it, the running application's bundle, the staging directory and the
// privileged helper's service name.

#include "AutoUpdateKit/Export.hpp"
#include "Platform/Bundle.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/WebURL.hpp"

#include <memory>
#include <optional>
#include <string>

namespace autoupdatekit {

struct AUTOUPDATEKIT_EXPORT AutoUpdateConfiguration {
    platform::WebURL manifestURL;
    std::string publicKeyBase64;
    std::shared_ptr<const platform::Bundle> currentBundle;
    platform::FileURL stagingDirectory;
    std::string privilegedHelperMachServiceName;

    // Without a staging directory, the default one is used: the user's caches folder,
    // the bundle identifier (or "AutoUpdateKit") and "AutoUpdateStaging". Only the
    // caches folder itself may be created here; a failure is the platform's error.
    AutoUpdateConfiguration(platform::WebURL manifestURL, std::string publicKeyBase64,
                            std::shared_ptr<const platform::Bundle> currentBundle,
                            std::optional<platform::FileURL> stagingDirectory, std::string privilegedHelperMachServiceName);

    // Reads "AutoUpdateManifestURL", "AutoUpdateManifestPublicKey" and
    // "AutoUpdateMachServiceName" from the main bundle's user defaults, then its
    // Info.plist. Nothing when the URL or key is missing, blank or does not parse.
    static std::optional<AutoUpdateConfiguration> fromMainBundleOrUserDefaults();

    // The same for a given application bundle, with that bundle's defaults domain.
    static std::optional<AutoUpdateConfiguration> fromBundleOrUserDefaults(std::shared_ptr<const platform::Bundle> bundle);
};

}  // namespace autoupdatekit
