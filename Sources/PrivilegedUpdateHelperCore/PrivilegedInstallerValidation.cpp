// Request validation and the signature checks of both the staged and the installed app.

#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"
#include "HelperToolFolder.hpp"
#include "ToolRun.hpp"

#include "AutoUpdateKit/AppVersion.hpp"
#include "InstalledApp.hpp"
#include "Platform/Bundle.hpp"
#include "Platform/IPC/Service.hpp"
#include "Platform/StaticCode.hpp"
#include "Platform/TextEncoding.hpp"

#include <shared_mutex>
#include <sys/stat.h>

namespace privilegedhelper {
namespace {

namespace security = platform::security;
using autoupdatekit::AppVersion;
using platform::canonicallyEquivalent;

bool exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::string statusText(security::OSStatus status) {
    return security::statusMessage(status).value_or("OSStatus " + std::to_string(status));
}

// The bundle at path; nothing when it is not one or its Info.plist cannot be read
// safely (a link, a FIFO, an oversized or malformed list), as if it had none.
std::optional<platform::Bundle> openedBundle(const std::string& path) {
    try {
        return platform::Bundle::open(platform::FileURL(path));
    } catch (const platform::PropertyListError&) {
        return std::nullopt;
    }
}

std::optional<std::string> bundleIdentifierAt(const std::string& path) {
    auto bundle = openedBundle(path);
    return bundle ? bundle->bundleIdentifier() : std::nullopt;
}

}  // namespace

std::shared_ptr<const PrivilegedInstaller::CheckedStage> PrivilegedInstaller::validateRequest(
    const autoupdatekit::PrivilegedUpdateRequest& request) const {
    std::string current = platform::FileURL(request.currentAppPath()).standardized().path();
    std::string allowed = platform::FileURL(policy_.destinationPath).standardized().path();
    if (!canonicallyEquivalent(current, allowed)) throw HelperError::policyMismatch("Destination " + current + " is not allowed.");
    if (!canonicallyEquivalent(request.expectedBundleIdentifier(), policy_.bundleIdentifier)) {
        throw HelperError::policyMismatch("Requested bundle identifier is not allowed.");
    }
    if (!canonicallyEquivalent(request.expectedTeamIdentifier(), policy_.teamIdentifier)) {
        throw HelperError::policyMismatch("Requested team identifier is not allowed.");
    }
    // Only the requester's own process may hold its install back: any other would let
    // one user stall the install for as long as some process of their choice runs.
    pid_t requester = request.requestingProcessIdentifier();
    auto peer = platform::ipc::currentPeerCredentials();
    if (requester >= 2 && (!peer || peer->processIdentifier != requester)) {
        throw HelperError::policyMismatch("Requesting process " + std::to_string(requester) +
                                          " is not the process that sent the request.");
    }
    // From here on the staged app is read only through the folder its requester opened.
    auto stage = std::make_shared<CheckedStage>(
        CheckedStage{StagedBundle::open(request.stagedAppPath(), peer.value_or(platform::ipc::PeerCredentials{})), {}});
    const StagedBundle& staged = stage->staged;
    stage->inventory = StagedCopy::takeInventory(staged);
    try {
        verifyApp(staged.openedPath(), policy_.bundleIdentifier, policy_.teamIdentifier);
    } catch (const HelperError& error) {
        throw error.withDescription(staged.withRequestedPath(error.description()));
    }
    // The helper never replaces an installed app that is not the allowed, signed one.
    std::shared_lock<WriterFirstLock> reading(installedAppLock_);
    if (exists(policy_.destinationPath)) verifyApp(policy_.destinationPath, policy_.bundleIdentifier, policy_.teamIdentifier);
    refuseDowngrade(staged.openedPath());
    return stage;
}

void PrivilegedInstaller::refuseDowngrade(const std::string& stagedPath) const {
    auto installedBundle = openedBundle(policy_.destinationPath);
    if (!installedBundle) return;
    auto staged = openedBundle(stagedPath);
    AppVersion offered = staged ? autoupdatekit::bundleVersion(*staged) : AppVersion{};
    AppVersion installed = autoupdatekit::bundleVersion(*installedBundle);
    if (AppVersion::compare(offered, installed) < 0) {
        throw HelperError::policyMismatch("Staged version " + offered.version + " (" + offered.build +
                                          ") is older than the installed version " + installed.version + " (" +
                                          installed.build + ").");
    }
}

void PrivilegedInstaller::verifyApp(const std::string& path, const std::string& expectedBundleIdentifier,
                                    const std::string& expectedTeamIdentifier) const {
    if (!exists(path)) throw HelperError::appMissing(path);
    platform::FileURL url(path);
    auto identifier = bundleIdentifierAt(path);
    if (!identifier || !canonicallyEquivalent(*identifier, expectedBundleIdentifier)) {
        throw HelperError::invalidBundleIdentifier(expectedBundleIdentifier, identifier);
    }
    verifySignature(url);

    std::optional<security::StaticCode> code;
    security::OSStatus status = security::StaticCode::create(url, 0, code);
    if (status != security::statusSuccess || !code) throw HelperError::signatureInvalid(statusText(status));
    std::optional<platform::PropertyDictionary> information;
    status = code->copySigningInformation(security::signingInformation, information);
    if (status != security::statusSuccess) throw HelperError::signatureInvalid(statusText(status));
    const std::string* team = information ? platform::PropertyList::stringValue(*information, security::codeInfoTeamIdentifier) : nullptr;
    if (team == nullptr || !canonicallyEquivalent(*team, expectedTeamIdentifier)) {
        throw HelperError::invalidTeamIdentifier(expectedTeamIdentifier, team ? std::optional<std::string>(*team) : std::nullopt);
    }
}

void PrivilegedInstaller::verifySignature(const platform::FileURL& appURL) const {
    auto result = autoupdatekit::runTool(policy_.toolDirectory + "/" + HelperToolFolder::codesign, {"--verify", "--deep", "--strict", "--verbose=2", appURL.path()});
    if (!result.succeeded()) throw HelperError::signatureInvalid(result.output);
}

}  // namespace privilegedhelper
