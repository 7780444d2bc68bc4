#pragma once
// The running application's version and build, and the dotted numeric comparison used
// for release ordering and the minimum system version: 1.10 is newer than 1.9, and a
// pre-release (2.0-beta.2, 2.0b3, 2.0rc1) is older than its release.

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

    // 1, 0 or -1 in release order. A text of dotted digits followed by a pre-release
    // part (an optional "-" or ".", a letter, then letters, digits, "." and "-": "-beta.2",
    // "b3", "rc1") orders below the same dotted digits without one; pre-release parts
    // order by their pieces (runs of letters or of digits): digits numerically and below
    // letters, letters by ASCII without case, and a part that runs out first is lower.
    // Texts without a pre-release part compare exactly as compareDotted has them.
    static int compareVersions(const std::string& left, const std::string& right);

    // 1, 0 or -1: the versions compared, then the builds when the versions are equal,
    // each by compareVersions. The client, the helper and the publisher's tool all
    // order releases by this.
    static int compare(const AppVersion& left, const AppVersion& right);

    // The components of a text that compareVersions counts as 0 for not being numbers
    // ("0_1" in "2.0_1"; none in a pre-release such as "2.0-beta"), so a publisher can
    // be warned before releasing.
    static std::vector<std::string> nonNumericComponents(const std::string& text);

    bool operator==(const AppVersion&) const = default;
};

}  // namespace autoupdatekit
