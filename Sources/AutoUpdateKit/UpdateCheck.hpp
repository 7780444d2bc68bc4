#pragma once
// The steps of one check, behind AutoUpdateManager's public face.

#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"
#include "StagingDirectory.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace autoupdatekit {

class AutoUpdateManager::Check {
public:
    explicit Check(AutoUpdateConfiguration configuration)
        : configuration_(std::move(configuration)), staging_(configuration_.stagingDirectory) {}

    const AutoUpdateConfiguration& configuration() const noexcept { return configuration_; }

    // Throws AutoUpdateError or the platform's errors, which the manager translates.
    AutoUpdateCheckResult run(const AutoUpdateCheckOptions& options) const;

private:
    struct Manifest {
        SignedUpdateManifest signedManifest;
        std::optional<ManifestExtension> extension;
    };
    Manifest loadManifest(const CheckCancellation& cancellation) const;
    // The archive kept from an earlier check when its digest still matches.
    std::optional<std::string> keptArchive(const UpdateManifestPayload& payload, const AutoUpdateCheckOptions& options) const;
    // The archive downloaded, its digest checked.
    std::string downloadedArchive(const UpdateManifestPayload& payload, const AutoUpdateCheckOptions& options) const;
    // Into a new partial file, then renamed to the name: at most the signed size.
    std::string download(const URL& url, std::int64_t signedSize, const std::string& fileName,
                         const AutoUpdateCheckOptions& options) const;
    // The new app rebuilt from the installed one by the delta listed for its version and
    // build, and validated; nothing (after a log line, with the staging folder emptied)
    // when there is none or it fails in any way, so the archive is downloaded instead.
    std::optional<std::string> rebuiltFromDelta(const SignedUpdateManifest& manifest, const std::vector<DeltaUpdate>& deltas,
                                                const AutoUpdateCheckOptions& options, std::int64_t& deltaSize) const;
    std::string extractArchive(const std::string& archive, const std::string& expectedAppName) const;
    void validateExtractedApp(const std::string& app, const SignedUpdateManifest& manifest) const;

    AutoUpdateConfiguration configuration_;
    StagingDirectory staging_;
};

}  // namespace autoupdatekit
