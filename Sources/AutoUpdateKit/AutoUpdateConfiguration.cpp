#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"

#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "ClientSettings.hpp"
#include "InstalledApp.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/TextEncoding.hpp"
#include "Platform/UserDirectories.hpp"

namespace autoupdatekit {
namespace {

std::string defaultStagingDirectory(const platform::Bundle& bundle) {
    std::string name = bundle.bundleIdentifier().value_or("AutoUpdateKit");
    std::string caches = platform::cachesDirectory();
    try {
        platform::createDirectories(caches, 0700);
    } catch (const std::exception& error) {
        throw AutoUpdateError::stagingFailed(caches, error.what());
    }
    return platform::FileURL(caches).appending(name).appending("AutoUpdateStaging").path();
}

// The library serves any app, so an app that names no helper gets its own by
// convention, never another maker's.
std::string defaultMachServiceName(const platform::Bundle& bundle) {
    return bundle.bundleIdentifier().value_or("AutoUpdateKit") + PrivilegedUpdateDefaults::machServiceNameSuffix;
}

// An app bundle that cannot be read counts as one without keys: nothing is configured
// from it, and no defaults domain is found.
platform::Bundle bundleAt(const std::string& appPath) {
    platform::FileURL url(appPath);
    try {
        if (auto bundle = platform::Bundle::open(url)) return *bundle;
    } catch (const platform::PropertyListError&) {
    }
    return platform::Bundle(url, {});
}

std::optional<AutoUpdateConfiguration> configured(const platform::Bundle& bundle) {
    ClientSettings settings(bundle);
    auto urlText = settings.text("AutoUpdateManifestURL");
    auto publicKey = settings.text("AutoUpdateManifestPublicKey");
    if (!urlText || !publicKey) return std::nullopt;
    // The trimmed texts only decide blankness; the texts as read are used.
    if (platform::trimmingWhitespaceAndNewlines(*urlText).empty()) return std::nullopt;
    if (platform::trimmingWhitespaceAndNewlines(*publicKey).empty()) return std::nullopt;
    auto url = URL::parse(*urlText);
    if (!url) throw AutoUpdateError::invalidManifestURL(*urlText);
    auto serviceName = settings.text(PrivilegedUpdateDefaults::machServiceNameKey).value_or(defaultMachServiceName(bundle));
    AutoUpdateConfiguration configuration(*url, *publicKey, bundle.bundleURL().path(), std::nullopt, serviceName);
    configuration.channel = settings.text("AutoUpdateChannel").value_or("stable");
    return configuration;
}

}  // namespace

AutoUpdateConfiguration::AutoUpdateConfiguration(URL url, std::string key, std::string path,
                                                 std::optional<std::string> staging, std::string serviceName)
    : manifestURL(std::move(url)),
      publicKeyBase64(std::move(key)),
      appPath(std::move(path)),
      privilegedHelperMachServiceName(std::move(serviceName)),
      app_(std::make_shared<const InstalledApp>(bundleAt(appPath))) {
    stagingDirectory = staging ? *staging : defaultStagingDirectory(app_->bundle());
}

std::optional<AutoUpdateConfiguration> AutoUpdateConfiguration::fromMainBundleOrUserDefaults() {
    std::optional<platform::Bundle> main;
    try {
        main = platform::Bundle::main();
    } catch (const platform::PropertyListError&) {
        // An Info.plist that does not parse reads as empty: no identifier, so no
        // defaults domain either, and nothing is configured.
        return std::nullopt;
    }
    auto configuration = configured(*main);
    // The running executable may carry its Info.plist inside, which no path reopens.
    if (configuration) configuration->app_ = std::make_shared<const InstalledApp>(std::move(*main));
    return configuration;
}

std::optional<AutoUpdateConfiguration> AutoUpdateConfiguration::fromAppOrUserDefaults(const std::string& appPath) {
    return configured(bundleAt(appPath));
}

const InstalledApp& installedApp(const AutoUpdateConfiguration& configuration) { return *configuration.app_; }

}  // namespace autoupdatekit
