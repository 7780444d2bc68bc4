#pragma once
// The helper's fixed policy, read once at start from its embedded Info.plist: the one
// bundle identifier, team and destination it will ever install.

#include "Platform/PropertyList.hpp"

#include <optional>
#include <string>

namespace privilegedhelper {

struct HelperPolicy {
    std::string machServiceName;
    std::string bundleIdentifier;
    std::string teamIdentifier;
    std::string destinationPath;
    std::string logFilePath;
    std::optional<std::string> launchAgentLabel;
    // The absolute folder whose codesign and open the helper runs, embedded by its maker.
    std::string toolDirectory;

    // A string entry trimmed of white space at both ends; absent when the dictionary is
    // empty, the key is missing, the value is not a string, or it trims to nothing.
    static std::optional<std::string> optionalPolicyValue(const std::string& key, const platform::PropertyDictionary& info);

    // Reads the policy; a missing allowed bundle identifier, team identifier,
    // destination path or tool folder (checked in that order) throws
    // HelperError.missingPolicyValue.
    static HelperPolicy fromInfoDictionary(const platform::PropertyDictionary& info);

    bool operator==(const HelperPolicy&) const = default;
};

}  // namespace privilegedhelper
