#include "AutoUpdateKit/InstallationPlan.hpp"

#include "ToolRun.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/StaticCode.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/TextEncoding.hpp"
#include "Platform/ToolPaths.hpp"
#include "Platform/UserDirectories.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace autoupdatekit {
namespace {

using platform::FileURL;
namespace security = platform::security;

constexpr std::uint32_t checkAllArchitecturesStrict = security::checkAllArchitectures | security::strictValidate;

std::string statusText(security::OSStatus status) {
    return security::statusMessage(status).value_or("OSStatus " + std::to_string(status));
}

bool exists(const FileURL& url) {
    struct stat status {};
    return ::stat(url.path().c_str(), &status) == 0;
}

bool isWritable(const FileURL& url) { return ::access(url.path().c_str(), W_OK) == 0; }

security::StaticCode staticCode(const FileURL& url) {
    std::optional<security::StaticCode> code;
    security::OSStatus status = security::StaticCode::create(url, 0, code);
    if (status != security::statusSuccess || !code) throw InstallationPlanError::stagedSignatureInvalid(statusText(status));
    return *code;
}

void verifySignatureWithCodesign(const FileURL& appURL) {
    auto result = runTool(platform::paths::codesign(), {"--verify", "--deep", "--strict", "--verbose=2", appURL.path()});
    if (!result.succeeded()) throw InstallationPlanError::stagedSignatureInvalid(result.output);
}

std::optional<std::string> teamIdentifier(const FileURL& appURL) {
    auto code = staticCode(appURL);
    std::optional<platform::PropertyDictionary> information;
    security::OSStatus status = code.copySigningInformation(security::signingInformation, information);
    if (status != security::statusSuccess) throw InstallationPlanError::stagedSignatureInvalid(statusText(status));
    const std::string* team = information ? platform::PropertyList::stringValue(*information, security::codeInfoTeamIdentifier) : nullptr;
    return team ? std::optional<std::string>(*team) : std::nullopt;
}

bool ownerMatchesCurrentUser(const FileURL& url) {
    struct stat status {};
    if (::lstat(url.path().c_str(), &status) != 0) platform::throwSystemError("attributes of " + url.path());
    return static_cast<std::uint32_t>(status.st_uid) == static_cast<std::uint32_t>(::getuid());
}

bool isUserApplicationsInstall(const FileURL& url) {
    std::string folder = FileURL(platform::homeDirectory()).appending("Applications").standardized().path() + "/";
    return url.standardized().path().rfind(folder, 0) == 0;
}

std::optional<std::string> identifierOf(const FileURL& url) {
    try {
        auto bundle = platform::Bundle::open(url);
        return bundle ? bundle->bundleIdentifier() : std::nullopt;
    } catch (const platform::PropertyListError&) {
        return std::nullopt;  // an Info.plist that does not parse names no identifier
    }
}

InstallStrategy chooseStrategy(const InstallationPlan& plan) {
    if (plan.currentAppURL.standardized().path().rfind("/Applications/", 0) == 0) return InstallStrategy::relocateToUserApplications;
    if (isUserApplicationsInstall(plan.currentAppURL)) return InstallStrategy::replaceWithoutBackup;
    if (plan.currentBundleWritable && plan.currentContentsWritable && plan.currentOwnerMatchesUser) {
        return InstallStrategy::replaceBundleContents;
    }
    if (plan.parentDirectoryWritable) return InstallStrategy::replaceWholeBundle;
    return InstallStrategy::relocateToUserApplications;
}

}  // namespace

std::string rawValue(InstallStrategy strategy) {
    switch (strategy) {
    case InstallStrategy::replaceWithoutBackup: return "replaceWithoutBackup";
    case InstallStrategy::replaceWholeBundle: return "replaceWholeBundle";
    case InstallStrategy::replaceBundleContents: return "replaceBundleContents";
    case InstallStrategy::relocateToUserApplications: return "relocateToUserApplications";
    }
    return "";
}

std::optional<InstallStrategy> installStrategyFromRawValue(const std::string& raw) {
    for (auto strategy : {InstallStrategy::replaceWithoutBackup, InstallStrategy::replaceWholeBundle,
                          InstallStrategy::replaceBundleContents, InstallStrategy::relocateToUserApplications}) {
        if (rawValue(strategy) == raw) return strategy;
    }
    return std::nullopt;
}

InstallationPlanError InstallationPlanError::appMissing(const FileURL& url) {
    return {Case::appMissing, "App bundle does not exist at " + url.path() + "."};
}

InstallationPlanError InstallationPlanError::bundleIdentifierMissing(const FileURL& url) {
    return {Case::bundleIdentifierMissing, "Could not read bundle identifier from " + url.path() + "."};
}

InstallationPlanError InstallationPlanError::bundleIdentifierMismatch(const std::string& expected,
                                                                      const std::optional<std::string>& actual) {
    return {Case::bundleIdentifierMismatch, "Bundle identifier mismatch. Expected " + expected + ", got " + actual.value_or("nil") + "."};
}

InstallationPlanError InstallationPlanError::teamIdentifierMismatch(const std::optional<std::string>& expected,
                                                                    const std::optional<std::string>& actual) {
    return {Case::teamIdentifierMismatch,
            "Team identifier mismatch. Expected " + expected.value_or("nil") + ", got " + actual.value_or("nil") + "."};
}

InstallationPlanError InstallationPlanError::stagedSignatureInvalid(const std::string& message) {
    return {Case::stagedSignatureInvalid, "Staged app signature check failed: " + platform::trimmingWhitespaceAndNewlines(message)};
}

namespace InstallationPlanner {

void verifySignature(const FileURL& appURL) {
    auto code = staticCode(appURL);
    std::optional<std::string> error;
    security::OSStatus status = code.checkValidity(checkAllArchitecturesStrict, nullptr, &error);
    if (status != security::statusSuccess) throw InstallationPlanError::stagedSignatureInvalid(error.value_or(statusText(status)));
    verifySignatureWithCodesign(appURL);
}

InstallationPlan plan(const FileURL& currentAppURL, const FileURL& stagedAppURL) {
    if (!exists(currentAppURL)) throw InstallationPlanError::appMissing(currentAppURL);
    if (!exists(stagedAppURL)) throw InstallationPlanError::appMissing(stagedAppURL);
    verifySignature(stagedAppURL);

    auto currentIdentifier = identifierOf(currentAppURL);
    if (!currentIdentifier) throw InstallationPlanError::bundleIdentifierMissing(currentAppURL);
    auto stagedIdentifier = identifierOf(stagedAppURL);
    if (stagedIdentifier != currentIdentifier) throw InstallationPlanError::bundleIdentifierMismatch(*currentIdentifier, stagedIdentifier);

    InstallationPlan plan{currentAppURL, stagedAppURL};
    plan.currentTeamIdentifier = teamIdentifier(currentAppURL);
    plan.stagedTeamIdentifier = teamIdentifier(stagedAppURL);
    if (plan.currentTeamIdentifier != plan.stagedTeamIdentifier) {
        throw InstallationPlanError::teamIdentifierMismatch(plan.currentTeamIdentifier, plan.stagedTeamIdentifier);
    }
    plan.parentDirectoryWritable = isWritable(currentAppURL.deletingLastPathComponent());
    plan.currentBundleWritable = isWritable(currentAppURL);
    plan.currentContentsWritable = isWritable(currentAppURL.appending("Contents"));
    plan.currentOwnerMatchesUser = ownerMatchesCurrentUser(currentAppURL);
    plan.bundleIdentifierMatches = true;
    plan.teamIdentifierMatches = true;
    plan.strategy = chooseStrategy(plan);
    return plan;
}

}  // namespace InstallationPlanner
}  // namespace autoupdatekit
