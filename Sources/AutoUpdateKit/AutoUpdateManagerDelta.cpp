// The delta step of the check: when the manifest lists a delta from the installed
// version and build, download it and rebuild the new app from the installed one into
// the staging folder, then validate it as an unpacked archive is validated. Anything
// that fails falls back to the archive in the same check.

#include "DeltaApplier.hpp"
#include "UpdateCheck.hpp"

#include "ClientSettings.hpp"
#include "FileHash.hpp"
#include "InstalledApp.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/FileURL.hpp"

namespace autoupdatekit {

std::optional<std::string> AutoUpdateManager::Check::rebuiltFromDelta(const SignedUpdateManifest& manifest,
                                                                      const std::vector<DeltaUpdate>& deltas,
                                                                      const AutoUpdateCheckOptions& options,
                                                                      std::int64_t& deltaSize) const {
    const platform::Bundle& installed = installedApp(configuration_).bundle();
    AppVersion current = bundleVersion(installed);
    const DeltaUpdate* delta = nullptr;
    for (const auto& listed : deltas) {
        if (listed.fromVersion == current.version && listed.fromBuild == current.build) delta = &listed;
    }
    auto url = delta ? URL::parse(delta->url) : std::nullopt;
    if (!url || !StagingDirectory::isPlainName(manifest.payload.appName)) return std::nullopt;
    auto say = [&](const std::string& line) {
        if (options.log) options.log("AutoUpdateKit: " + line);
    };
    const auto& payload = manifest.payload;
    std::string app = staging_.extractedFolder() + "/" + payload.appName + ".app";
    try {
        // A delta an earlier check left (the user said later) is taken again only when its
        // bytes still hash to the signed digest.
        auto kept = staging_.keptDownload(StagingDirectory::deltaFileName, delta->size);
        bool reusable = kept && FileHash::hexDigest(platform::FileURL(*kept)) == delta->sha256;
        if (reusable) say("using the delta downloaded before");
        std::string file = reusable ? *kept : download(*url, delta->size, StagingDirectory::deltaFileName, options);
        platform::createDirectories(app);
        DeltaApplier::apply(*delta, file, installed.bundleURL().path(), app);
        validateExtractedApp(app, manifest);
    } catch (const std::exception& error) {
        const auto* failure = dynamic_cast<const AutoUpdateError*>(&error);
        if (failure && failure->errorCase() == AutoUpdateError::Case::cancelled) throw;
        say("the delta from " + current.version + " (" + current.build + ") could not be used (" +
            (failure ? failure->logDescription() : std::string(error.what())) + "); downloading the whole archive");
        return std::nullopt;  // the archive's download resets the staging folder first
    }
    say("rebuilt update " + updateIdentifier(payload) + " from a delta of " + std::to_string(delta->size) + " bytes instead of the " +
        std::to_string(payload.archiveSize) + "-byte archive");
    deltaSize = delta->size;
    // Only for display (autoupdatectl status): a record that cannot be kept changes nothing.
    try {
        ClientSettings(installed).setRecord(stagedFromDeltaKey, platform::PropertyValue(updateIdentifier(payload) + ": " +
                                                                                         std::to_string(delta->size) + " of " +
                                                                                         std::to_string(payload.archiveSize) + " bytes"));
    } catch (const std::exception&) {
    }
    return app;
}

}  // namespace autoupdatekit
