#include "AutoUpdateKit/AutoUpdateConfiguration.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/TextEncoding.hpp"
#include "Platform/UserDefaults.hpp"
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

// The bundle's standard defaults; nothing when it has no usable domain.
std::optional<platform::UserDefaults> standardDefaults(const platform::Bundle& bundle) {
    auto identifier = bundle.bundleIdentifier();
    if (!identifier) return std::nullopt;
    try {
        return platform::UserDefaults(*identifier);
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

std::optional<std::string> configurationValue(const std::string& key, const std::optional<platform::UserDefaults>& defaults,
                                              const platform::PropertyDictionary& info) {
    if (defaults) {
        try {
            if (auto value = defaults->string(key); value && !value->empty()) return value;
        } catch (const platform::PropertyListError&) {
            // A defaults file that does not parse holds no usable value; it is left as it is.
        }
    }
    if (info.empty()) return std::nullopt;
    const std::string* value = platform::PropertyList::stringValue(info, key);
    if (value == nullptr || value->empty()) return std::nullopt;
    return *value;
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
    auto defaults = standardDefaults(*bundle);
    const auto& info = bundle->infoDictionary();
    auto urlText = configurationValue("AutoUpdateManifestURL", defaults, info);
    auto publicKey = configurationValue("AutoUpdateManifestPublicKey", defaults, info);
    auto serviceName = configurationValue(PrivilegedUpdateDefaults::machServiceNameKey, defaults, info)
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
