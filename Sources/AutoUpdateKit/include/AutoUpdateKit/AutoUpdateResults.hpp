#pragma once
// What an update check hands back: a staged candidate, the check's result with its
// one-line log text, and the update client's errors with their fixed messages.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/UpdateManifest.hpp"

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <variant>

namespace autoupdatekit {

// "<version>-<build>": how an offered update is known to the check, the deferred
// install script and the privileged helper.
AUTOUPDATEKIT_EXPORT std::string updateIdentifier(const UpdateManifestPayload& payload);

struct AUTOUPDATEKIT_EXPORT AutoUpdateCandidate {
    // The release offered; its signature is empty when the release was taken from the
    // manifest's signed extension (another channel's, or a stepping stone).
    SignedUpdateManifest manifest;
    // The verified archive and the app unpacked from it, in the staging directory.
    std::string archivePath;
    std::string extractedAppPath;
    // True when an earlier check's download was checked again and used.
    bool reusedDownload = false;
    // The size of the delta the app was rebuilt from instead of the archive, when one
    // was; archivePath is then empty.
    std::optional<std::int64_t> deltaSize = std::nullopt;
    // A critical update: scheduled checks offer it whatever the user skipped or a
    // rollout phase says, and an answer of later installs it when the app quits.
    bool critical = false;

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

// Every failure the library's calls report to the app. description() is the fixed
// message of the case; detail() keeps the underlying text (curl's, the file system's,
// a tool's) when there is one.
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
        serverUnreachable,
        secureConnectionFailed,
        transferFailed,
        invalidManifest,
        invalidManifestURL,
        invalidCodeSignature,
        stagingFailed,
        installHandOverFailed,
        manifestExpired,
        manifestReplayed,
        manifestNotFresh,
        manifestForAnotherApp,
        manifestForAnotherChannel,
        tooFewManifestKeys,
        invalidManifestKeys,
    };

    static AutoUpdateError manifestRequestFailed(long statusCode, const URL& url);
    static AutoUpdateError archiveDownloadFailed(long statusCode, const URL& url);
    static AutoUpdateError archiveHashMismatch(const std::string& expected, const std::string& actual);
    static AutoUpdateError extractionFailed(const std::string& output);
    static AutoUpdateError bundleIdentifierMismatch(const std::string& expected, const std::optional<std::string>& actual);
    static AutoUpdateError unsupportedAutomaticInstallStrategy(const std::string& strategy);
    static AutoUpdateError unsupportedSystemVersion(const std::string& required, const std::string& current);
    static AutoUpdateError invalidManifestSignature();
    static AutoUpdateError extractedAppMissing();
    static AutoUpdateError privilegedHelperRequiresTeamIdentifier();
    // The check's cancellation switch was set (CheckCancellation).
    static AutoUpdateError cancelled();
    // The installed app belongs to a package of the system's package manager, which
    // alone updates it.
    static AutoUpdateError managedByPackageManager(const std::string& appPath, const std::string& packages);
    // No connection to the server: offline, a name that does not resolve, a refused
    // connection.
    static AutoUpdateError serverUnreachable(const URL& url, const std::string& detail);
    // The TLS handshake or the server's certificate failed.
    static AutoUpdateError secureConnectionFailed(const URL& url, const std::string& detail);
    // A transfer that started and broke off, stalled, or passed its size or time limit.
    static AutoUpdateError transferFailed(const URL& url, const std::string& detail);
    // The manifest's bytes are not a manifest.
    static AutoUpdateError invalidManifest(const std::string& detail);
    // The configured manifest URL does not parse.
    static AutoUpdateError invalidManifestURL(const std::string& text);
    // The downloaded app's code signature does not verify.
    static AutoUpdateError invalidCodeSignature(const std::string& detail);
    // The staging directory could not be prepared, read or written.
    static AutoUpdateError stagingFailed(const std::string& path, const std::string& detail);
    // Planning the install, the helper or the install script failed; nothing changed.
    static AutoUpdateError installHandOverFailed(const std::string& detail);
    // The manifest's signed expiry (and the hour allowed for clock skew) has passed: a
    // mirror may be serving a frozen copy.
    static AutoUpdateError manifestExpired(std::chrono::sys_seconds expires);
    // Its signed sequence number is below the highest one accepted for the app and channel.
    static AutoUpdateError manifestReplayed(std::int64_t sequence, std::int64_t accepted);
    // The app requires an expiry and a sequence number, and the manifest has none.
    static AutoUpdateError manifestNotFresh();
    // The manifest is bound to another app or another channel.
    static AutoUpdateError manifestForAnotherApp(const std::optional<std::string>& expected, const std::string& named);
    static AutoUpdateError manifestForAnotherChannel(const std::string& expected, const std::string& named);
    // Fewer of the app's manifest keys signed it than the app's threshold asks for.
    static AutoUpdateError tooFewManifestKeys(std::size_t valid, std::size_t required);
    // The configured keys or threshold cannot be used.
    static AutoUpdateError invalidManifestKeys(const std::string& detail);

    Case errorCase() const noexcept { return case_; }
    const std::string& description() const noexcept { return description_; }
    const std::string& detail() const noexcept { return detail_; }
    const char* what() const noexcept override { return description_.c_str(); }
    // The description, then the detail in parentheses when there is one.
    std::string logDescription() const;
    bool operator==(const AutoUpdateError& other) const { return case_ == other.case_ && description_ == other.description_; }

private:
    AutoUpdateError(Case errorCase, std::string description, std::string detail = {})
        : case_(errorCase), description_(std::move(description)), detail_(std::move(detail)) {}

    Case case_;
    std::string description_;
    std::string detail_;
};

}  // namespace autoupdatekit
