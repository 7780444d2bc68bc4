#pragma once
// The running application's version and build, and the dotted numeric comparison used
// for release ordering and the minimum system version: 1.10 is newer than 1.9.

#include "AutoUpdateKit/Export.hpp"
#include <string>
#include <vector>

namespace autoupdatekit {

struct AUTOUPDATEKIT_EXPORT AppVersion {
    std::string version = "0";  // CFBundleShortVersionString
    std::string build = "0";    // CFBundleVersion

    // The running app's, or another app bundle's. Missing or non-string values read as
    // "0" (so does an app whose Info.plist cannot be read); values are taken as they are.
    static AppVersion ofRunningApp();
    static AppVersion ofApp(const std::string& appPath);

    // 1, 0 or -1. Components split at ".", empty ones dropped; each is an optional sign
    // and ASCII digits fitting in 64 bits, anything else counts as 0; a missing
    // component counts as 0. Never fails.
    static int compareDotted(const std::string& left, const std::string& right);

    // 1, 0 or -1: the versions compared, then the builds when the versions are equal.
    static int compare(const AppVersion& left, const AppVersion& right);

    // The components of a dotted text that compareDotted counts as 0 for not being
    // numbers ("beta" in "2.0.beta"), so a publisher can be warned before releasing.
    static std::vector<std::string> nonNumericComponents(const std::string& text);

    bool operator==(const AppVersion&) const = default;
};

}  // namespace autoupdatekit
