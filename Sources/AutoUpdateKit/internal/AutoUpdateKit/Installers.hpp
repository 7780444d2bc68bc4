#pragma once
// Installers that carry out an installation plan inside the running process, one per
// strategy. The installed app is never removed before its replacement is in place and
// verified, or a backup of it exists.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/InstallationPlan.hpp"

#include "Platform/FileURL.hpp"

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

namespace autoupdatekit {

struct AUTOUPDATEKIT_EXPORT InstallationResult {
    InstallStrategy strategy;
    std::optional<platform::FileURL> backupURL = std::nullopt;
    bool operator==(const InstallationResult&) const = default;
};

class AUTOUPDATEKIT_EXPORT InstallationError : public std::exception {
public:
    enum class Case { unsupportedStrategy, contentsMissing, rollbackFailed };

    static InstallationError unsupportedStrategy(InstallStrategy strategy);
    static InstallationError contentsMissing(const platform::FileURL& url);
    static InstallationError rollbackFailed(const std::exception& original, const std::exception& rollback);

    Case errorCase() const noexcept { return case_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    InstallationError(Case errorCase, std::string description) : case_(errorCase), description_(std::move(description)) {}
    Case case_;
    std::string description_;
};

// Copies through the platform's copy tool; its output is the failure's text.
class AUTOUPDATEKIT_EXPORT CopyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace DirectBundleInstaller {
AUTOUPDATEKIT_EXPORT InstallationResult install(const InstallationPlan& plan);
}
namespace WholeBundleInstaller {
AUTOUPDATEKIT_EXPORT InstallationResult install(const InstallationPlan& plan);
// "<name>.autoupdate-backup-<yyyyMMddHHmmss>.<extension>" beside the bundle.
AUTOUPDATEKIT_EXPORT platform::FileURL backupURL(const platform::FileURL& currentAppURL);
}
namespace BundleContentsInstaller {
AUTOUPDATEKIT_EXPORT InstallationResult install(const InstallationPlan& plan);
// The local time as 14 digits, yyyyMMddHHmmss.
AUTOUPDATEKIT_EXPORT std::string timestamp();
}
namespace UserApplicationsInstaller {
// Installs into the user's own Applications folder; returns the installed bundle.
AUTOUPDATEKIT_EXPORT platform::FileURL install(const InstallationPlan& plan);
}

}  // namespace autoupdatekit
