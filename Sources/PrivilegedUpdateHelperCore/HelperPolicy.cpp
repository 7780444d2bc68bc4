#include "HelperPolicy.hpp"

#include "HelperError.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "Platform/TextEncoding.hpp"

namespace privilegedhelper {

namespace Defaults = autoupdatekit::PrivilegedUpdateDefaults;

std::optional<std::string> HelperPolicy::optionalPolicyValue(const std::string& key, const platform::PropertyDictionary& info) {
    if (info.empty()) return std::nullopt;
    const std::string* value = platform::PropertyList::stringValue(info, key);
    if (value == nullptr) return std::nullopt;
    std::string trimmed = platform::trimmingWhitespaceAndNewlines(*value);
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

HelperPolicy HelperPolicy::fromInfoDictionary(const platform::PropertyDictionary& info) {
    auto required = [&](const char* key) {
        auto value = optionalPolicyValue(key, info);
        if (!value) throw HelperError::missingPolicyValue(key);
        return *value;
    };
    HelperPolicy policy;
    policy.bundleIdentifier = required(Defaults::allowedBundleIdentifierKey);
    if (auto name = optionalPolicyValue(Defaults::machServiceNameKey, info)) {
        policy.machServiceName = *name;
    } else if (const std::string* identifier = platform::PropertyList::stringValue(info, "CFBundleIdentifier")) {
        policy.machServiceName = *identifier;  // as written, even blank
    } else {
        policy.machServiceName = policy.bundleIdentifier;
    }
    policy.teamIdentifier = required(Defaults::allowedTeamIdentifierKey);
    policy.destinationPath = required(Defaults::allowedDestinationPathKey);
    policy.logFilePath = optionalPolicyValue(Defaults::logFilePathKey, info)
                             .value_or("/Library/Logs/" + policy.bundleIdentifier + ".PrivilegedUpdater.log");
    policy.launchAgentLabel = optionalPolicyValue(Defaults::launchAgentLabelKey, info);
    policy.toolDirectory = required(Defaults::toolDirectoryKey);
    return policy;
}

}  // namespace privilegedhelper
