#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "ClientSettings.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/TextEncoding.hpp"
#include "Platform/UserDirectories.hpp"

namespace autoupdatekit {
namespace {

platform::FileURL defaultStagingDirectory(const platform::Bundle& bundle) {
    std::string name = bundle.bundleIdentifier().value_or("AutoUpdateKit");
    std::string caches = platform::cachesDirectory();
    platform::createDirectories(caches, 0700);
    return platform::FileURL(caches).appending(name).appending("AutoUpdateStaging");
}

// The library serves any app, so an app that names no helper gets its own by
// convention, never another maker's.
std::string defaultMachServiceName(const platform::Bundle& bundle) {
    return bundle.bundleIdentifier().value_or("AutoUpdateKit") + PrivilegedUpdateDefaults::machServiceNameSuffix;
}

}  // namespace

AutoUpdateConfiguration::AutoUpdateConfiguration(platform::WebURL url, std::string key,
                                                 std::shared_ptr<const platform::Bundle> bundle,
                                                 std::optional<platform::FileURL> staging, std::string serviceName)
    : manifestURL(std::move(url)),
      publicKeyBase64(std::move(key)),
      currentBundle(std::move(bundle)),
      stagingDirectory(staging ? *staging : defaultStagingDirectory(*currentBundle)),
      privilegedHelperMachServiceName(std::move(serviceName)) {}

std::optional<AutoUpdateConfiguration> AutoUpdateConfiguration::fromMainBundleOrUserDefaults() {
    std::optional<platform::Bundle> main;
    try {
        main = platform::Bundle::main();
    } catch (const platform::PropertyListError&) {
        // An Info.plist that does not parse reads as empty: no identifier, so no
        // defaults domain either, and nothing is configured.
        return std::nullopt;
    }
    return fromBundleOrUserDefaults(std::make_shared<const platform::Bundle>(std::move(*main)));
}

std::optional<AutoUpdateConfiguration> AutoUpdateConfiguration::fromBundleOrUserDefaults(
    std::shared_ptr<const platform::Bundle> bundle) {
    ClientSettings settings(*bundle);
    auto urlText = settings.text("AutoUpdateManifestURL");
    auto publicKey = settings.text("AutoUpdateManifestPublicKey");
    auto serviceName = settings.text(PrivilegedUpdateDefaults::machServiceNameKey)
                           .value_or(defaultMachServiceName(*bundle));
    if (!urlText || !publicKey) return std::nullopt;
    // The trimmed texts only decide blankness; the texts as read are used.
    if (platform::trimmingWhitespaceAndNewlines(*urlText).empty()) return std::nullopt;
    if (platform::trimmingWhitespaceAndNewlines(*publicKey).empty()) return std::nullopt;
    auto url = platform::WebURL::parse(*urlText);
    if (!url) return std::nullopt;
    return AutoUpdateConfiguration(*url, *publicKey, std::move(bundle), std::nullopt, serviceName);
}

}  // namespace autoupdatekit
