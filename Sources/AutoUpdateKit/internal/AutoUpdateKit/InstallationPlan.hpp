#pragma once
// Install planning: check the staged bundle's signature and identifiers against the
// installed one, and choose how it can be replaced from the file-system permissions of
// the current user. Planning changes nothing on disk.

#include "AutoUpdateKit/Export.hpp"
#include "Platform/FileURL.hpp"

#include <exception>
#include <optional>
#include <string>

namespace autoupdatekit {

// Raw values are the case names; the order is the declaration order.
enum class InstallStrategy { replaceWithoutBackup, replaceWholeBundle, replaceBundleContents, relocateToUserApplications };

AUTOUPDATEKIT_EXPORT std::string rawValue(InstallStrategy strategy);
// Exact, case-sensitive match of a raw value; nothing otherwise.
AUTOUPDATEKIT_EXPORT std::optional<InstallStrategy> installStrategyFromRawValue(const std::string& raw);

struct AUTOUPDATEKIT_EXPORT InstallationPlan {
    platform::FileURL currentAppURL;
    platform::FileURL stagedAppURL;
    InstallStrategy strategy = InstallStrategy::relocateToUserApplications;
    bool currentBundleWritable = false;
    bool currentContentsWritable = false;
    bool parentDirectoryWritable = false;
    bool currentOwnerMatchesUser = false;
    bool bundleIdentifierMatches = false;
    std::optional<std::string> currentTeamIdentifier = std::nullopt;
    std::optional<std::string> stagedTeamIdentifier = std::nullopt;
    bool teamIdentifierMatches = false;

    bool operator==(const InstallationPlan&) const = default;
};

class AUTOUPDATEKIT_EXPORT InstallationPlanError : public std::exception {
public:
    enum class Case { appMissing, bundleIdentifierMissing, bundleIdentifierMismatch, teamIdentifierMismatch, stagedSignatureInvalid };

    static InstallationPlanError appMissing(const platform::FileURL& url);
    static InstallationPlanError bundleIdentifierMissing(const platform::FileURL& url);
    static InstallationPlanError bundleIdentifierMismatch(const std::string& expected, const std::optional<std::string>& actual);
    static InstallationPlanError teamIdentifierMismatch(const std::optional<std::string>& expected,
                                                        const std::optional<std::string>& actual);
    // The description trims the message of white space at both ends.
    static InstallationPlanError stagedSignatureInvalid(const std::string& message);

    Case errorCase() const noexcept { return case_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }
    bool operator==(const InstallationPlanError& other) const {
        return case_ == other.case_ && description_ == other.description_;
    }

private:
    InstallationPlanError(Case errorCase, std::string description) : case_(errorCase), description_(std::move(description)) {}

    Case case_;
    std::string description_;
};

namespace InstallationPlanner {

// Checks, in order: both bundles exist; the staged signature; the bundle identifiers;
// the team identifiers; then the write and owner tests and the strategy. Fails with
// InstallationPlanError, or passes a file-system or process-start error through.
AUTOUPDATEKIT_EXPORT InstallationPlan plan(const platform::FileURL& currentAppURL, const platform::FileURL& stagedAppURL);

// Static validity check (strict), then `codesign --verify --deep --strict`; fails with
// stagedSignatureInvalid, or a process-start error.
AUTOUPDATEKIT_EXPORT void verifySignature(const platform::FileURL& appURL);

}  // namespace InstallationPlanner
}  // namespace autoupdatekit
