#pragma once
// What an update check hands back: a staged candidate, the check's result with its
// one-line log text, and the update client's errors with their fixed messages.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/InstallationPlan.hpp"
#include "AutoUpdateKit/UpdateManifest.hpp"

#include "Platform/FileURL.hpp"
#include "Platform/WebURL.hpp"

#include <exception>
#include <optional>
#include <string>
#include <variant>

namespace autoupdatekit {

// "<version>-<build>": how an offered update is known to the check, the deferred
// install script and the privileged helper.
AUTOUPDATEKIT_EXPORT std::string updateIdentifier(const UpdateManifestPayload& payload);

struct AUTOUPDATEKIT_EXPORT AutoUpdateCandidate {
    SignedUpdateManifest manifest;
    platform::FileURL archiveURL;
    platform::FileURL extractedAppURL;

    bool operator==(const AutoUpdateCandidate&) const = default;
};

struct AUTOUPDATEKIT_EXPORT AutoUpdateCheckResult {
    struct UpToDate {
        std::string currentVersion;
        std::string currentBuild;
        std::string remoteVersion;
        std::string remoteBuild;
        bool operator==(const UpToDate&) const = default;
    };
    struct UpdateReady {
        AutoUpdateCandidate candidate;
        bool operator==(const UpdateReady&) const = default;
    };
    struct NotConfigured {
        bool operator==(const NotConfigured&) const = default;
    };

    std::variant<UpToDate, UpdateReady, NotConfigured> value;

    static AutoUpdateCheckResult upToDate(std::string currentVersion, std::string currentBuild, std::string remoteVersion,
                                          std::string remoteBuild);
    static AutoUpdateCheckResult updateReady(AutoUpdateCandidate candidate);
    static AutoUpdateCheckResult notConfigured();

    // One line for log output, as "up to date at 3.0 (100); server has 3.0 (100)".
    std::string logDescription() const;

    bool operator==(const AutoUpdateCheckResult&) const = default;
};

class AUTOUPDATEKIT_EXPORT AutoUpdateError : public std::exception {
public:
    enum class Case {
        manifestRequestFailed,
        archiveDownloadFailed,
        archiveHashMismatch,
        extractionFailed,
        bundleIdentifierMismatch,
        unsupportedAutomaticInstallStrategy,
        unsupportedSystemVersion,
        invalidManifestSignature,
        extractedAppMissing,
        privilegedHelperRequiresTeamIdentifier,
        cancelled,
        managedByPackageManager,
    };

    static AutoUpdateError manifestRequestFailed(long statusCode, const platform::WebURL& url);
    static AutoUpdateError archiveDownloadFailed(long statusCode, const platform::WebURL& url);
    static AutoUpdateError archiveHashMismatch(const std::string& expected, const std::string& actual);
    static AutoUpdateError extractionFailed(const std::string& output);
    static AutoUpdateError bundleIdentifierMismatch(const std::string& expected, const std::optional<std::string>& actual);
    static AutoUpdateError unsupportedAutomaticInstallStrategy(InstallStrategy strategy);
    static AutoUpdateError unsupportedSystemVersion(const std::string& required, const std::string& current);
    static AutoUpdateError invalidManifestSignature();
    static AutoUpdateError extractedAppMissing();
    static AutoUpdateError privilegedHelperRequiresTeamIdentifier();
    // The check's cancellation switch was set (CheckCancellation).
    static AutoUpdateError cancelled();
    // The installed app belongs to a package of the system's package manager, which
    // alone updates it.
    static AutoUpdateError managedByPackageManager(const std::string& appPath, const std::string& packages);

    Case errorCase() const noexcept { return case_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }
    bool operator==(const AutoUpdateError& other) const { return case_ == other.case_ && description_ == other.description_; }

private:
    AutoUpdateError(Case errorCase, std::string description) : case_(errorCase), description_(std::move(description)) {}

    Case case_;
    std::string description_;
};

}  // namespace autoupdatekit
