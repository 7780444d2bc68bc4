// The install: a root-owned copy made and verified in a folder only root can enter,
// swapped in with the installed app in one atomic exchange, checked again, then the old
// app removed.

#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"
#include "HelperToolFolder.hpp"
#include "InstallNames.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/TextEncoding.hpp"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace privilegedhelper {
namespace {

using platform::FileURL;

bool exists(const FileURL& url) {
    struct stat status {};
    return ::lstat(url.path().c_str(), &status) == 0;
}

void ignoringFailure(const std::function<void()>& step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

std::string withoutExtension(const std::string& name) {
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

std::string PrivilegedInstaller::sanitizedInstallName(const FileURL& url) {
    std::string name = withoutExtension(url.lastPathComponent());
    std::string sanitized;
    std::size_t position = 0;
    bool valid = platform::isValidUTF8(name);
    // One "-" for each scalar that is not a letter, mark, digit, "-" or "_".
    while (position < name.size()) {
        std::size_t length = 1;
        bool alphanumeric = valid && platform::isAlphanumericAt(name, position, length);
        bool keep = alphanumeric || name[position] == '-' || name[position] == '_';
        sanitized += keep ? name.substr(position, length) : "-";
        position += length;
    }
    std::size_t start = sanitized.find_first_not_of("-_");
    if (start == std::string::npos) return "app";
    std::size_t end = sanitized.find_last_not_of("-_");
    return sanitized.substr(start, end - start + 1);
}

void PrivilegedInstaller::copyApp(const CheckedStage& from, int holdingFolder, const FileURL& to) const {
    try {
        StagedCopy::copy(from.staged, from.inventory, holdingFolder, to.lastPathComponent(), to.path());
    } catch (const std::exception& error) {
        throw HelperError::installFailed(error.what());
    }
}

void PrivilegedInstaller::launchApp(const std::string& path, const std::optional<platform::ChildIdentity>& identity) const {
    platform::launchDetached(policy_.toolDirectory + "/" + HelperToolFolder::open, {path}, identity);
}

void PrivilegedInstaller::install(const CheckedStage& stage) const {
    FileURL destination(policy_.destinationPath);
    FileURL parent = destination.deletingLastPathComponent();
    std::string installName = sanitizedInstallName(destination);
    // The copy is made and checked inside a folder only root can enter, so no other user
    // sees a byte of it, or holds a way into it, before it has passed every check.
    FileURL holding = parent.appending(holdingFolderName(installName, platform::makeUUIDString()));
    FileURL copy = holding.appending(installName + ".app");
    FileURL backup = parent.appending(backupName(installName, platform::makeUUIDString()));
    // Set once the exchange has put the installed app at the copy's place, until it is
    // safely at the backup name: then the holding folder must never be removed.
    bool holdingHasInstalledApp = false;

    try {
        removeLeftovers();
        if (::mkdir(holding.path().c_str(), 0700) != 0) platform::throwSystemError("mkdir " + holding.path());
        platform::FileDescriptor holdingFolder(::open(holding.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!holdingFolder.valid()) platform::throwSystemError("open " + holding.path());
        copyApp(stage, holdingFolder.get(), copy);
        verifyApp(copy.path(), policy_.bundleIdentifier, policy_.teamIdentifier);
        // Another install may have run since this request was checked.
        refuseDowngrade(copy.path());
        // Its own mode last, and never writable by group or others.
        if (::chmod(copy.path().c_str(), stage.inventory.topMode & 0755) != 0) platform::throwSystemError("chmod " + copy.path());

        {
            std::unique_lock<WriterFirstLock> swapping(installedAppLock_);
            if (exists(destination)) {
                // One atomic step: the destination always holds a whole bundle.
                platform::exchangePaths(copy.path(), destination.path());
                holdingHasInstalledApp = true;
                try {
                    platform::renameWithoutReplacing(copy.path(), backup.path());
                    holdingHasInstalledApp = false;
                } catch (...) {
                    platform::exchangePaths(copy.path(), destination.path());
                    holdingHasInstalledApp = false;
                    throw;
                }
            } else {
                platform::renameWithoutReplacing(copy.path(), destination.path());
            }
        }
        ::rmdir(holding.path().c_str());
        verifyApp(destination.path(), policy_.bundleIdentifier, policy_.teamIdentifier);
        platform::removeRecursively(backup.path());
    } catch (const std::exception& error) {
        // Where the exchange back failed too, the old app stays in the holding folder.
        if (!holdingHasInstalledApp) ignoringFailure([&] { platform::removeRecursively(holding.path()); });
        if (exists(backup) && !exists(destination)) {
            ignoringFailure([&] { platform::renameWithoutReplacing(backup.path(), destination.path()); });
        }
        throw HelperError::installFailed(error.what());
    }
}

}  // namespace privilegedhelper
