#include "AutoUpdateKit/AutoUpdateManager.hpp"

#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "ClientSettings.hpp"
#include "FileHash.hpp"
#include "PackageOwnership.hpp"
#include "ScheduledCheckRules.hpp"
#include "SuppressedUpdate.hpp"
#include "SystemVersionRequirement.hpp"

#include <strings.h>

namespace autoupdatekit {
namespace {

// A manifest body larger than this is refused as a transport error.
constexpr std::size_t maximumManifestSize = 16 * 1024 * 1024;
// A manifest is a few kilobytes: a server still trickling it after this is not going
// to deliver, and must not hold the check for ever.
constexpr long manifestTransferSeconds = 10 * 60;

// The manifest URL with a "_" query item holding the current seconds added last, so no
// cache between here and the server answers with an old manifest.
platform::WebURL cacheBustingURL(const platform::WebURL& url) {
    std::string text = url.absoluteString();
    std::size_t fragment = text.find('#');
    std::string beforeFragment = text.substr(0, fragment);
    std::string fragmentText = fragment == std::string::npos ? "" : text.substr(fragment);
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::string joiner = beforeFragment.find('?') == std::string::npos ? "?" : beforeFragment.back() == '?' ? "" : "&";
    std::string composed = beforeFragment + joiner + "_=" + std::to_string(seconds) + fragmentText;
    return platform::WebURL::parse(composed).value_or(url);
}

}  // namespace

AutoUpdateManager::AutoUpdateManager(AutoUpdateConfiguration configuration, std::shared_ptr<const platform::HTTPSession> session)
    : configuration_(std::move(configuration)), session_(std::move(session)) {}

SignedUpdateManifest AutoUpdateManager::loadManifest(const CheckCancellation& cancellation) const {
    platform::HTTPRequest request{cacheBustingURL(configuration_.manifestURL), {{"Cache-Control", "no-cache"}, {"Pragma", "no-cache"}}};
    request.transferTimeoutSeconds = manifestTransferSeconds;
    request.cancelled = [cancellation] { return cancellation.isCancelled(); };
    std::pair<std::string, platform::HTTPResponse> fetched;
    try {
        fetched = session_->data(request, maximumManifestSize);
    } catch (const platform::TransferCancelled&) {
        throw AutoUpdateError::cancelled();
    }
    const auto& [body, response] = fetched;
    if (response.isHTTP && (response.statusCode < 200 || response.statusCode > 299)) {
        throw AutoUpdateError::manifestRequestFailed(response.statusCode, configuration_.manifestURL);
    }
    return ManifestCoding::makeDecoder().decodeManifest(body);
}

AutoUpdateCheckResult AutoUpdateManager::checkForUpdate(const platform::ProgressObserver& downloadObserver, const Log& log) const {
    return checkForUpdate(AutoUpdateCheckOptions{downloadObserver, log});
}

AutoUpdateCheckResult AutoUpdateManager::checkForUpdate(const AutoUpdateCheckOptions& options) const {
    const CheckCancellation& cancellation = options.cancellation;
    auto stopIfCancelled = [&] {
        if (cancellation.isCancelled()) throw AutoUpdateError::cancelled();
    };
    stopIfCancelled();
    SignedUpdateManifest manifest = loadManifest(cancellation);
    if (!ManifestSignature::verify(manifest, configuration_.publicKeyBase64)) throw AutoUpdateError::invalidManifestSignature();
    const auto& payload = manifest.payload;

    AppVersion current = AppVersion::of(*configuration_.currentBundle);
    int comparison = AppVersion::compareDotted(payload.version, current.version);
    if (comparison == 0) comparison = AppVersion::compareDotted(payload.build, current.build);
    auto upToDate = AutoUpdateCheckResult::upToDate(current.version, current.build, payload.version, payload.build);
    if (comparison != 1) return upToDate;

    // Before the suppression step: a release passed over is not offered, so it must not
    // clear the suppression of another one.
    if (options.scheduled) {
        ClientSettings settings(*configuration_.currentBundle);
        if (auto reason = scheduledPassOver(payload, settings, options.now)) {
            if (options.log) options.log("AutoUpdateKit: " + *reason);
            return upToDate;
        }
    }

    SuppressedUpdate suppression(*configuration_.currentBundle);
    if (suppression.unreadable() && options.log) {
        options.log("AutoUpdateKit: " + *suppression.unreadable() + "; taken as holding no suppressed update and left as it is.");
    }
    if (suppression.matches(updateIdentifier(payload))) return upToDate;
    suppression.clear();

    // Nothing is fetched for an app that the package manager alone may replace.
    std::string appPath = configuration_.currentBundle->bundleURL().standardized().path();
    if (auto packages = PackageOwnership::owningPackage(appPath)) throw AutoUpdateError::managedByPackageManager(appPath, *packages);
    validateMinimumSystemVersion(payload.minimumSystemVersion);
    stopIfCancelled();
    platform::FileURL archive = downloadArchive(manifest, options);
    stopIfCancelled();
    std::string digest = FileHash::hexDigest(archive);
    if (payload.archiveSHA256.size() != digest.size() ||
        ::strncasecmp(payload.archiveSHA256.c_str(), digest.c_str(), digest.size()) != 0) {
        throw AutoUpdateError::archiveHashMismatch(payload.archiveSHA256, digest);
    }
    platform::FileURL app = extractArchive(archive, payload.appName);
    validateExtractedApp(app, manifest);
    stopIfCancelled();
    return AutoUpdateCheckResult::updateReady({std::move(manifest), archive, app});
}

std::optional<AutoUpdateConfiguration> AutoUpdateManager::mainBundleConfiguration(const Log& log) {
    std::optional<AutoUpdateConfiguration> configuration;
    try {
        configuration = AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
    } catch (const std::exception& error) {
        log(std::string("AutoUpdateKit: ") + error.what());
        return std::nullopt;
    }
    if (!configuration) log("AutoUpdateKit: no manifest URL/public key configured; skipping check.");
    return configuration;
}

void AutoUpdateManager::checkFromMainBundleIfConfigured(const Log& log) {
    auto configuration = mainBundleConfiguration(log);
    if (!configuration) return;
    try {
        AutoUpdateManager manager(*configuration, platform::HTTPSession::shared());
        log("AutoUpdateKit: " + manager.checkForUpdate({}, log).logDescription());
    } catch (const std::exception& error) {
        log(std::string("AutoUpdateKit: ") + error.what());
    }
}

}  // namespace autoupdatekit
