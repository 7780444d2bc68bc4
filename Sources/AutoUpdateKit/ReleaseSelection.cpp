#include "ReleaseSelection.hpp"

namespace autoupdatekit {
namespace {

constexpr const char* stableChannel = "stable";

bool mayApply(const ReleaseTerms& terms, const AppVersion& installed) {
    return !terms.minimumInstalledVersion || AppVersion::compareVersions(installed.version, *terms.minimumInstalledVersion) >= 0;
}

bool newer(const ManifestRelease& left, const ManifestRelease& right) {
    return AppVersion::compare({left.payload.version, left.payload.build}, {right.payload.version, right.payload.build}) > 0;
}

// The release itself when the installed version may apply it, else its newest stepping
// stone that it may.
std::optional<ManifestRelease> applicable(const ManifestRelease& release, const AppVersion& installed) {
    if (mayApply(release, installed)) return release;
    std::optional<ManifestRelease> newest;
    for (const auto& stone : release.steppingStones) {
        if (mayApply(stone, installed) && (!newest || newer(stone, *newest))) newest = stone;
    }
    return newest;
}

}  // namespace

std::optional<OfferedRelease> offeredRelease(const SignedUpdateManifest& manifest, const std::optional<ManifestExtension>& extension,
                                             const std::string& channel, const AppVersion& installed) {
    ManifestExtension listed = extension.value_or(ManifestExtension{});
    listed.channels.insert_or_assign(listed.channel.value_or(stableChannel), ManifestRelease{listed, manifest.payload});

    std::optional<ManifestRelease> chosen;
    for (const std::string& name : {channel, std::string(stableChannel)}) {
        auto found = listed.channels.find(name);
        auto release = found == listed.channels.end() ? std::nullopt : applicable(found->second, installed);
        if (release && (!chosen || newer(*release, *chosen))) chosen = release;
    }
    if (!chosen) return std::nullopt;
    const auto& critical = chosen->critical;
    return OfferedRelease{{chosen->payload, chosen->payload == manifest.payload ? manifest.signature : ""},
                          chosen->deltas,
                          critical && (!critical->belowVersion || AppVersion::compareVersions(installed.version, *critical->belowVersion) < 0)};
}

}  // namespace autoupdatekit
