#include "AutoUpdateKit/AutoUpdateResults.hpp"

#include "Platform/Identifiers.hpp"
#include "Platform/TextEncoding.hpp"

namespace autoupdatekit {

std::string updateIdentifier(const UpdateManifestPayload& payload) { return payload.version + "-" + payload.build; }

AutoUpdateCheckResult AutoUpdateCheckResult::upToDate(std::string currentVersion, std::string currentBuild,
                                                      std::string remoteVersion, std::string remoteBuild) {
    return {UpToDate{std::move(currentVersion), std::move(currentBuild), std::move(remoteVersion), std::move(remoteBuild)}};
}

AutoUpdateCheckResult AutoUpdateCheckResult::updateReady(AutoUpdateCandidate candidate) {
    return {UpdateReady{std::move(candidate)}};
}

AutoUpdateCheckResult AutoUpdateCheckResult::notConfigured() { return {NotConfigured{}}; }

std::string AutoUpdateCheckResult::logDescription() const {
    if (const auto* upToDate = std::get_if<UpToDate>(&value)) {
        return "up to date at " + upToDate->currentVersion + " (" + upToDate->currentBuild + "); server has " +
               upToDate->remoteVersion + " (" + upToDate->remoteBuild + ")";
    }
    if (const auto* ready = std::get_if<UpdateReady>(&value)) {
        const auto& payload = ready->candidate.manifest.payload;
        std::string staged = "update " + payload.version + " (" + payload.build + ") staged at " + ready->candidate.extractedAppPath;
        if (!ready->candidate.deltaSize) return staged;
        return staged + " from a delta of " + std::to_string(*ready->candidate.deltaSize) + " bytes (" +
               std::to_string(payload.archiveSize - *ready->candidate.deltaSize) + " bytes less than the archive)";
    }
    return "not configured";
}

AutoUpdateError AutoUpdateError::manifestRequestFailed(long statusCode, const URL& url) {
    return {Case::manifestRequestFailed,
            "The update manifest could not be loaded. HTTP " + std::to_string(statusCode) + ": " + url.absoluteString()};
}

AutoUpdateError AutoUpdateError::archiveDownloadFailed(long statusCode, const URL& url) {
    return {Case::archiveDownloadFailed,
            "The update archive could not be downloaded. HTTP " + std::to_string(statusCode) + ": " + url.absoluteString()};
}

AutoUpdateError AutoUpdateError::archiveHashMismatch(const std::string& expected, const std::string& actual) {
    return {Case::archiveHashMismatch, "The update archive hash does not match. Expected " + expected + ", got " + actual + "."};
}

AutoUpdateError AutoUpdateError::extractionFailed(const std::string& output) {
    return {Case::extractionFailed,
            "The update archive could not be extracted: " + platform::trimmingWhitespaceAndNewlines(output)};
}

AutoUpdateError AutoUpdateError::bundleIdentifierMismatch(const std::string& expected, const std::optional<std::string>& actual) {
    return {Case::bundleIdentifierMismatch,
            "The update app bundle identifier does not match. Expected " + expected + ", got " + actual.value_or("nil") + "."};
}

AutoUpdateError AutoUpdateError::unsupportedAutomaticInstallStrategy(const std::string& strategy) {
    return {Case::unsupportedAutomaticInstallStrategy,
            "Install strategy " + strategy + " is not supported for automatic install yet."};
}

AutoUpdateError AutoUpdateError::unsupportedSystemVersion(const std::string& required, const std::string& current) {
    return {Case::unsupportedSystemVersion,
            "The update requires macOS " + required + ", but this Mac is running macOS " + current + "."};
}

AutoUpdateError AutoUpdateError::invalidManifestSignature() {
    return {Case::invalidManifestSignature, "The update manifest signature is not valid."};
}

AutoUpdateError AutoUpdateError::extractedAppMissing() {
    return {Case::extractedAppMissing, "The update archive did not contain an app bundle."};
}

AutoUpdateError AutoUpdateError::privilegedHelperRequiresTeamIdentifier() {
    return {Case::privilegedHelperRequiresTeamIdentifier,
            "The current app must be signed with a Developer ID team identifier before a privileged install can be scheduled."};
}

AutoUpdateError AutoUpdateError::cancelled() { return {Case::cancelled, "The update check was cancelled."}; }

AutoUpdateError AutoUpdateError::managedByPackageManager(const std::string& appPath, const std::string& packages) {
    return {Case::managedByPackageManager, appPath + " is managed by the system package manager (package " + packages +
                                               "); it is updated through the package manager, never by the updater."};
}

AutoUpdateError AutoUpdateError::serverUnreachable(const URL& url, const std::string& detail) {
    return {Case::serverUnreachable, "The update server could not be reached: " + url.absoluteString(), detail};
}

AutoUpdateError AutoUpdateError::secureConnectionFailed(const URL& url, const std::string& detail) {
    return {Case::secureConnectionFailed, "A secure connection to the update server could not be made: " + url.absoluteString(),
            detail};
}

AutoUpdateError AutoUpdateError::transferFailed(const URL& url, const std::string& detail) {
    return {Case::transferFailed, "The transfer from the update server failed: " + url.absoluteString(), detail};
}

AutoUpdateError AutoUpdateError::invalidManifest(const std::string& detail) {
    return {Case::invalidManifest, "The update manifest could not be read.", detail};
}

AutoUpdateError AutoUpdateError::invalidManifestURL(const std::string& text) {
    return {Case::invalidManifestURL, "The configured manifest URL is not a valid URL: \"" + text + "\""};
}

AutoUpdateError AutoUpdateError::invalidCodeSignature(const std::string& detail) {
    return {Case::invalidCodeSignature, "The update app's code signature is not valid.", detail};
}

AutoUpdateError AutoUpdateError::stagingFailed(const std::string& path, const std::string& detail) {
    return {Case::stagingFailed, "The update could not be prepared in " + path + ".", detail};
}

AutoUpdateError AutoUpdateError::installHandOverFailed(const std::string& detail) {
    return {Case::installHandOverFailed, "The update could not be handed over for installing; nothing was changed.", detail};
}

AutoUpdateError AutoUpdateError::manifestExpired(std::chrono::sys_seconds expires) {
    return {Case::manifestExpired, "The update manifest expired on " + platform::iso8601UTC(expires) + "."};
}

AutoUpdateError AutoUpdateError::manifestReplayed(std::int64_t sequence, std::int64_t accepted) {
    return {Case::manifestReplayed, "The update manifest is older than one already accepted.",
            "sequence " + std::to_string(sequence) + ", accepted " + std::to_string(accepted)};
}

AutoUpdateError AutoUpdateError::manifestNotFresh() {
    return {Case::manifestNotFresh, "The update manifest has no signed expiry and sequence number, which this app requires."};
}

AutoUpdateError AutoUpdateError::manifestForAnotherApp(const std::optional<std::string>& expected, const std::string& named) {
    return {Case::manifestForAnotherApp,
            "The update manifest is for another app. Expected " + expected.value_or("nil") + ", got " + named + "."};
}

AutoUpdateError AutoUpdateError::manifestForAnotherChannel(const std::string& expected, const std::string& named) {
    return {Case::manifestForAnotherChannel,
            "The update manifest is for the channel \"" + named + "\", not this app's channel \"" + expected + "\"."};
}

AutoUpdateError AutoUpdateError::tooFewManifestKeys(std::size_t valid, std::size_t required) {
    return {Case::tooFewManifestKeys, "The update manifest is signed by " + std::to_string(valid) + " of the " +
                                          std::to_string(required) + " manifest keys this app requires."};
}

AutoUpdateError AutoUpdateError::invalidManifestKeys(const std::string& detail) {
    return {Case::invalidManifestKeys, "The configured manifest keys cannot be used.", detail};
}

std::string AutoUpdateError::logDescription() const { return detail_.empty() ? description_ : description_ + " (" + detail_ + ")"; }

}  // namespace autoupdatekit
