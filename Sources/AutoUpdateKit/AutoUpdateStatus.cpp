#include "AutoUpdateKit/AutoUpdateStatus.hpp"

#include "ClientSettings.hpp"
#include "InstalledApp.hpp"
#include "StagingDirectory.hpp"
#include "SuppressedUpdate.hpp"

#include "Platform/FileSystem.hpp"

#include <algorithm>

namespace autoupdatekit {
namespace {

// Text as it is, a number in decimal; nothing for other kinds.
std::optional<std::string> shown(const std::optional<platform::PropertyValue>& value) {
    if (!value) return std::nullopt;
    if (const auto* text = value->getIf<std::string>()) return *text;
    if (const auto* number = value->getIf<std::int64_t>()) return std::to_string(*number);
    return std::nullopt;
}

// The folder's visible entries, sorted; none when it cannot be listed.
std::vector<std::string> visibleEntries(const std::string& folder) {
    std::vector<std::string> names;
    try {
        names = platform::directoryEntries(folder);
    } catch (const std::exception&) {
        return {};
    }
    std::erase_if(names, [](const std::string& name) { return name.empty() || name.front() == '.'; });
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

AutoUpdateStatus AutoUpdateStatus::of(const AutoUpdateConfiguration& configuration) {
    ClientSettings settings(installedApp(configuration).bundle());
    AutoUpdateStatus status;
    status.lastCheckTime = shown(settings.record(lastCheckTimeKey));
    status.skippedVersion = shown(settings.record(skippedVersionKey));
    status.rolloutGroup = shown(settings.record(rolloutGroupKey));
    status.suppressedUpdate = shown(settings.record(suppressedUpdateIdentifierKey));
    const std::string& staging = configuration.stagingDirectory;
    for (const auto& name : visibleEntries(staging)) {
        if (name != "Extracted") status.staged.push_back(staging + "/" + name);
    }
    for (const auto& name : visibleEntries(staging + "/Extracted")) status.staged.push_back(staging + "/Extracted/" + name);
    auto names = visibleEntries(staging);
    if (std::find(names.begin(), names.end(), StagingDirectory::deltaFileName) != names.end()) {
        status.stagedFromDelta = shown(settings.record(stagedFromDeltaKey));
    }
    return status;
}

}  // namespace autoupdatekit
