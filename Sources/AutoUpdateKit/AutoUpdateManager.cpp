#include "AutoUpdateKit/AutoUpdateManager.hpp"

#include "AppFlow.hpp"
#include "AutoUpdateKit/ManifestCoding.hpp"
#include "ClientSettings.hpp"
#include "InstalledApp.hpp"
#include "ManifestTrust.hpp"
#include "PackageOwnership.hpp"
#include "ReleaseSelection.hpp"
#include "ScheduledCheckRules.hpp"
#include "SuppressedUpdate.hpp"
#include "SystemVersionRequirement.hpp"
#include "TransportFailure.hpp"
#include "UpdateCheck.hpp"
#include "WebAddress.hpp"

#include "Platform/HTTPSession.hpp"

namespace autoupdatekit {
namespace {

// A manifest body larger than this is refused as a transport error.
constexpr std::size_t maximumManifestSize = 16 * 1024 * 1024;
// A manifest is a few kilobytes: a server still trickling it after this is not going
// to deliver, and must not hold the check for ever.
constexpr long manifestTransferSeconds = 10 * 60;

// The manifest URL with a "_" query item holding the current seconds added last, so no
// cache between here and the server answers with an old manifest.
platform::WebURL cacheBustingURL(const URL& url) {
    std::string text = url.absoluteString();
    std::size_t fragment = text.find('#');
    std::string beforeFragment = text.substr(0, fragment);
    std::string fragmentText = fragment == std::string::npos ? "" : text.substr(fragment);
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::string joiner = beforeFragment.find('?') == std::string::npos ? "?" : beforeFragment.back() == '?' ? "" : "&";
    std::string composed = beforeFragment + joiner + "_=" + std::to_string(seconds) + fragmentText;
    return platform::WebURL::parse(composed).value_or(webURL(url));
}

}  // namespace

AutoUpdateManager::AutoUpdateManager(AutoUpdateConfiguration configuration)
    : check_(std::make_unique<Check>(std::move(configuration))) {}
AutoUpdateManager::~AutoUpdateManager() = default;
AutoUpdateManager::AutoUpdateManager(AutoUpdateManager&&) noexcept = default;
AutoUpdateManager& AutoUpdateManager::operator=(AutoUpdateManager&&) noexcept = default;

const AutoUpdateConfiguration& AutoUpdateManager::configuration() const noexcept { return check_->configuration(); }

AutoUpdateCheckResult AutoUpdateManager::checkForUpdate(const AutoUpdateCheckOptions& options) const {
    try {
        return check_->run(options);
    } catch (const AutoUpdateError&) {
        throw;
    } catch (const DecodingError& error) {
        throw AutoUpdateError::invalidManifest(error.what());
    } catch (const std::exception& error) {
        // What is left are the file system's and the tools' failures in the staging folder.
        throw AutoUpdateError::stagingFailed(configuration().stagingDirectory, error.what());
    }
}

AutoUpdateManager::Check::Manifest AutoUpdateManager::Check::loadManifest(const CheckCancellation& cancellation) const {
    platform::HTTPRequest request{cacheBustingURL(configuration_.manifestURL), {{"Cache-Control", "no-cache"}, {"Pragma", "no-cache"}}};
    request.transferTimeoutSeconds = manifestTransferSeconds;
    request.cancelled = [cancellation] { return cancellation.isCancelled(); };
    std::pair<std::string, platform::HTTPResponse> fetched;
    try {
        fetched = platform::HTTPSession::shared()->data(request, maximumManifestSize);
    } catch (const platform::TransportError& error) {
        throwTransportFailure(error, configuration_.manifestURL);
    }
    const auto& [body, response] = fetched;
    if (response.isHTTP && (response.statusCode < 200 || response.statusCode > 299)) {
        throw AutoUpdateError::manifestRequestFailed(response.statusCode, configuration_.manifestURL);
    }
    // An extension that breaks its rules makes the whole manifest invalid here, though
    // older clients never read it.
    return {ManifestCoding::makeDecoder().decodeManifest(body), ManifestExtensionCoding::decodeExtension(body)};
}

AutoUpdateCheckResult AutoUpdateManager::Check::run(const AutoUpdateCheckOptions& options) const {
    const CheckCancellation& cancellation = options.cancellation;
    auto stopIfCancelled = [&] {
        if (cancellation.isCancelled()) throw AutoUpdateError::cancelled();
    };
    stopIfCancelled();
    auto [manifest, extension] = loadManifest(cancellation);
    const platform::Bundle& app = installedApp(configuration_).bundle();
    // Before anything else, an up-to-date answer included: a frozen manifest's answer
    // is always "up to date".
    ClientSettings settings(app);
    manifestTrust(configuration_, app.bundleIdentifier()).accept(manifest, extension, settings, options.now);

    AppVersion current = bundleVersion(app);
    auto offered = offeredRelease(manifest, extension, configuration_.channel, current);
    if (!offered && options.log) options.log("AutoUpdateKit: no release listed for this channel may be applied over " + current.version);
    const auto& payload = offered ? offered->manifest.payload : manifest.payload;
    auto upToDate = AutoUpdateCheckResult::upToDate(current.version, current.build, payload.version, payload.build);
    if (!offered || AppVersion::compare({payload.version, payload.build}, current) != 1) {
        // Tidying up never fails a check that found nothing to do.
        try {
            staging_.emptyUnlessNewerThan(current);
        } catch (const std::exception& error) {
            if (options.log) options.log(std::string("AutoUpdateKit: the staging directory was left as it is: ") + error.what());
        }
        return upToDate;
    }

    // Before the suppression step: a release passed over is not offered, so it must not
    // clear the suppression of another one.
    if (options.scheduled) {
        if (auto reason = scheduledPassOver(payload, offered->critical, settings, options.now)) {
            if (options.log) options.log("AutoUpdateKit: " + *reason);
            return upToDate;
        }
    }

    SuppressedUpdate suppression(app);
    if (suppression.unreadable() && options.log) {
        options.log("AutoUpdateKit: " + *suppression.unreadable() + "; taken as holding no suppressed update and left as it is.");
    }
    if (suppression.matches(updateIdentifier(payload))) return upToDate;
    suppression.clear();

    // Nothing is fetched for an app that the package manager alone may replace.
    std::string appPath = app.bundleURL().standardized().path();
    if (auto packages = PackageOwnership::owningPackage(appPath)) throw AutoUpdateError::managedByPackageManager(appPath, *packages);
    validateMinimumSystemVersion(payload.minimumSystemVersion);
    stopIfCancelled();
    // An archive kept from before costs nothing; a delta, when one is listed for this
    // version, costs a fraction of the archive; the archive is the fallback for both.
    AutoUpdateCandidate candidate{offered->manifest, "", "", false, std::nullopt, offered->critical};
    if (auto kept = keptArchive(payload, options)) {
        candidate.archivePath = *kept;
        candidate.reusedDownload = true;
    } else if (std::int64_t deltaSize = 0; !offered->deltas.empty()) {
        if (auto rebuilt = rebuiltFromDelta(offered->manifest, offered->deltas, options, deltaSize)) {
            candidate.extractedAppPath = *rebuilt;
            candidate.deltaSize = deltaSize;
        }
    }
    if (candidate.extractedAppPath.empty()) {
        if (candidate.archivePath.empty()) candidate.archivePath = downloadedArchive(payload, options);
        stopIfCancelled();
        candidate.extractedAppPath = extractArchive(candidate.archivePath, payload.appName);
        validateExtractedApp(candidate.extractedAppPath, offered->manifest);
    }
    stopIfCancelled();
    return AutoUpdateCheckResult::updateReady(std::move(candidate));
}

void AutoUpdateManager::checkFromMainBundleIfConfigured(const Log& log) {
    try {
        auto configuration = AutoUpdateConfiguration::fromMainBundleOrUserDefaults();
        if (!configuration) {
            log("AutoUpdateKit: no manifest URL/public key configured; skipping check.");
            return;
        }
        AutoUpdateCheckOptions options;
        options.log = log;
        log("AutoUpdateKit: " + AutoUpdateManager(*configuration).checkForUpdate(options).logDescription());
    } catch (const std::exception& error) {
        log(failureLine(error));
    }
}

}  // namespace autoupdatekit
