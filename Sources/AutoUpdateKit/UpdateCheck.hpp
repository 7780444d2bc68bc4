#pragma once
// The steps of one check, behind AutoUpdateManager's public face.

#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "StagingDirectory.hpp"

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
    SignedUpdateManifest loadManifest(const CheckCancellation& cancellation) const;
    // The archive, downloaded or kept from an earlier check, its digest checked.
    std::string stagedArchive(const UpdateManifestPayload& payload, const AutoUpdateCheckOptions& options, bool& reused) const;
    std::string downloadArchive(const UpdateManifestPayload& payload, const AutoUpdateCheckOptions& options) const;
    std::string extractArchive(const std::string& archive, const std::string& expectedAppName) const;
    void validateExtractedApp(const std::string& app, const SignedUpdateManifest& manifest) const;

    AutoUpdateConfiguration configuration_;
    StagingDirectory staging_;
};

}  // namespace autoupdatekit
