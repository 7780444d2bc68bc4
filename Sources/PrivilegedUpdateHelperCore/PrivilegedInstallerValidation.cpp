// Request validation and the signature checks of both the staged and the installed app.

#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"
#include "ToolRun.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/StaticCode.hpp"
#include "Platform/TextEncoding.hpp"
#include "Platform/ToolPaths.hpp"

#include <sys/stat.h>

namespace privilegedhelper {
namespace {

namespace security = platform::security;
using platform::canonicallyEquivalent;

bool exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::string statusText(security::OSStatus status) {
    return security::statusMessage(status).value_or("OSStatus " + std::to_string(status));
}

std::optional<std::string> bundleIdentifierAt(const platform::FileURL& url) {
    try {
        auto bundle = platform::Bundle::open(url);
        return bundle ? bundle->bundleIdentifier() : std::nullopt;
    } catch (const platform::PropertyListError&) {
        return std::nullopt;
    }
}

}  // namespace

void PrivilegedInstaller::validateRequest(const autoupdatekit::PrivilegedUpdateRequest& request) const {
    std::string current = platform::FileURL(request.currentAppPath()).standardized().path();
    std::string allowed = platform::FileURL(policy_.destinationPath).standardized().path();
    if (!canonicallyEquivalent(current, allowed)) throw HelperError::policyMismatch("Destination " + current + " is not allowed.");
    if (!canonicallyEquivalent(request.expectedBundleIdentifier(), policy_.bundleIdentifier)) {
        throw HelperError::policyMismatch("Requested bundle identifier is not allowed.");
    }
    if (!canonicallyEquivalent(request.expectedTeamIdentifier(), policy_.teamIdentifier)) {
        throw HelperError::policyMismatch("Requested team identifier is not allowed.");
    }
    if (!exists(request.stagedAppPath())) throw HelperError::appMissing(request.stagedAppPath());
    verifyApp(request.stagedAppPath(), policy_.bundleIdentifier, policy_.teamIdentifier);
    // The helper never replaces an installed app that is not the allowed, signed one.
    std::shared_lock<std::shared_mutex> reading(installedAppLock_);
    if (exists(policy_.destinationPath)) verifyApp(policy_.destinationPath, policy_.bundleIdentifier, policy_.teamIdentifier);
}

void PrivilegedInstaller::verifyApp(const std::string& path, const std::string& expectedBundleIdentifier,
                                    const std::string& expectedTeamIdentifier) const {
    if (!exists(path)) throw HelperError::appMissing(path);
    platform::FileURL url(path);
    auto identifier = bundleIdentifierAt(url);
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
    auto result = autoupdatekit::runTool(platform::paths::codesign, {"--verify", "--deep", "--strict", "--verbose=2", appURL.path()});
    if (!result.succeeded()) throw HelperError::signatureInvalid(result.output);
}

}  // namespace privilegedhelper
