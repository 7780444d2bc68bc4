#include "AutoUpdateKit/Installers.hpp"

#include "ToolRun.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/ToolPaths.hpp"
#include "Platform/UserDirectories.hpp"

#include <cerrno>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace autoupdatekit {
namespace {

using platform::FileURL;

bool exists(const FileURL& url) {
    struct stat status {};
    return ::lstat(url.path().c_str(), &status) == 0;
}

void copyItem(const FileURL& from, const FileURL& to) {
    auto result = runTool(platform::paths::ditto(), {from.path(), to.path()});
    if (!result.succeeded()) throw CopyError(result.output.empty() ? "copy of " + from.path() + " failed" : result.output);
}

// Renames; across file systems it copies instead and removes the source only once the
// copy is whole. Rights that would stop that removal part-way stop the move before
// anything is touched, and a failed copy leaves nothing at the destination.
void moveItem(const FileURL& from, const FileURL& to) {
    try {
        platform::renameWithoutReplacing(from.path(), to.path());
        return;
    } catch (const platform::SystemError& error) {
        if (error.code() != EXDEV) throw;
    }
    if (exists(to)) throw platform::SystemError("rename " + from.path() + " to " + to.path(), EEXIST);
    platform::requireRemovable(from.path());
    try {
        copyItem(from, to);
    } catch (...) {
        platform::removeRecursively(to.path());
        throw;
    }
    platform::removeRecursively(from.path());
}

void requireStrategy(const InstallationPlan& plan, InstallStrategy accepted) {
    if (plan.strategy != accepted) throw InstallationError::unsupportedStrategy(plan.strategy);
}

// Puts a verified copy of the staged bundle at destination: the copy is made and
// verified under a hidden name beside it, and only then does the old bundle make way.
// On failure only the copy is removed; nothing is left behind on success.
void replaceVerified(const FileURL& staged, const FileURL& destination) {
    std::string suffix = ".autoupdate-" + platform::makeUUIDString();
    FileURL folder = destination.deletingLastPathComponent();
    FileURL fresh = folder.appending("." + destination.lastPathComponent() + suffix + ".new");
    FileURL old = folder.appending("." + destination.lastPathComponent() + suffix + ".old");
    try {
        copyItem(staged, fresh);
        InstallationPlanner::verifySignature(fresh);
        bool hadOld = exists(destination);
        if (hadOld) moveItem(destination, old);
        try {
            moveItem(fresh, destination);
        } catch (...) {
            if (hadOld) moveItem(old, destination);
            throw;
        }
        if (hadOld) platform::removeRecursively(old.path());
    } catch (...) {
        platform::removeRecursively(fresh.path());
        throw;
    }
}

// Runs the protected steps; on failure runs the rollback and rethrows the step's
// error, or rollbackFailed with both when the rollback fails too.
template <typename Steps, typename Rollback>
void protectedSequence(Steps steps, Rollback rollback) {
    try {
        steps();
    } catch (const std::exception& original) {
        try {
            rollback();
        } catch (const std::exception& rollbackError) {
            throw InstallationError::rollbackFailed(original, rollbackError);
        }
        throw;
    }
}

}  // namespace

InstallationError InstallationError::unsupportedStrategy(InstallStrategy strategy) {
    return {Case::unsupportedStrategy, "Install strategy " + rawValue(strategy) + " is not implemented yet."};
}

InstallationError InstallationError::contentsMissing(const FileURL& url) {
    return {Case::contentsMissing, "Contents directory does not exist at " + url.path() + "."};
}

InstallationError InstallationError::rollbackFailed(const std::exception& original, const std::exception& rollback) {
    return {Case::rollbackFailed, std::string("Install failed and rollback also failed. Install error: ") + original.what() +
                                      ". Rollback error: " + rollback.what() + "."};
}

InstallationResult DirectBundleInstaller::install(const InstallationPlan& plan) {
    requireStrategy(plan, InstallStrategy::replaceWithoutBackup);
    replaceVerified(plan.stagedAppURL, plan.currentAppURL);
    return {InstallStrategy::replaceWithoutBackup};
}

FileURL WholeBundleInstaller::backupURL(const FileURL& currentAppURL) {
    std::string name = currentAppURL.lastPathComponent();
    std::size_t dot = name.rfind('.');
    bool hasExtension = dot != std::string::npos && dot > 0;
    std::string base = hasExtension ? name.substr(0, dot) : name;
    std::string backup = base + ".autoupdate-backup-" + BundleContentsInstaller::timestamp();
    if (hasExtension) backup += name.substr(dot);
    return currentAppURL.deletingLastPathComponent().appending(backup);
}

InstallationResult WholeBundleInstaller::install(const InstallationPlan& plan) {
    requireStrategy(plan, InstallStrategy::replaceWholeBundle);
    FileURL backup = backupURL(plan.currentAppURL);
    // Restores only what this run moved aside, never a stale backup of the same name.
    bool movedToBackup = false;
    protectedSequence(
        [&] {
            moveItem(plan.currentAppURL, backup);
            movedToBackup = true;
            copyItem(plan.stagedAppURL, plan.currentAppURL);
            InstallationPlanner::verifySignature(plan.currentAppURL);
        },
        [&] {
            if (!movedToBackup) return;
            platform::removeRecursively(plan.currentAppURL.path());
            moveItem(backup, plan.currentAppURL);
        });
    platform::removeRecursively(backup.path());
    return {InstallStrategy::replaceWholeBundle};
}

std::string BundleContentsInstaller::timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
    return text;
}

InstallationResult BundleContentsInstaller::install(const InstallationPlan& plan) {
    requireStrategy(plan, InstallStrategy::replaceBundleContents);
    FileURL currentContents = plan.currentAppURL.appending("Contents");
    FileURL stagedContents = plan.stagedAppURL.appending("Contents");
    if (!exists(currentContents)) throw InstallationError::contentsMissing(currentContents);
    if (!exists(stagedContents)) throw InstallationError::contentsMissing(stagedContents);
    FileURL backupFolder = FileURL(platform::temporaryDirectory())
                               .appending("AutoUpdate-Backup-" + timestamp() + "-" + platform::makeUUIDString());
    FileURL backupContents = backupFolder.appending("Contents");
    // Only this user may enter the backup in a shared temporary folder. The folder is
    // new, so whatever lies in it is this run's whole backup (a failed move leaves
    // nothing there), even when a move across file systems stopped part-way.
    if (::mkdir(backupFolder.path().c_str(), 0700) != 0) platform::throwSystemError("mkdir " + backupFolder.path());
    protectedSequence(
        [&] {
            moveItem(currentContents, backupContents);
            copyItem(stagedContents, currentContents);
            InstallationPlanner::verifySignature(plan.currentAppURL);
        },
        [&] {
            if (exists(backupContents)) {
                platform::removeRecursively(currentContents.path());
                moveItem(backupContents, currentContents);
            }
            platform::removeRecursively(backupFolder.path());
        });
    platform::removeRecursively(backupFolder.path());
    return {InstallStrategy::replaceBundleContents};
}

FileURL UserApplicationsInstaller::install(const InstallationPlan& plan) {
    FileURL folder = FileURL(platform::homeDirectory()).appending("Applications");
    platform::createDirectories(folder.path());
    FileURL destination = folder.appending(plan.currentAppURL.lastPathComponent());
    replaceVerified(plan.stagedAppURL, destination);
    return destination;
}

}  // namespace autoupdatekit
