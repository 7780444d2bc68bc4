// The install: a verified, root-owned copy beside the destination, swapped in with the
// installed app in one atomic exchange, checked again, then the old app removed.

#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"
#include "InstallNames.hpp"
#include "ToolRun.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/TextEncoding.hpp"
#include "Platform/ToolPaths.hpp"

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

// Gives the fresh copy to root. Nothing the helper installs may be writable by group or
// others: the top folder's mode is not sealed, so those bits are cleared there; below
// it modes are sealed, so such an entry fails the copy's verification instead, as does
// a set-ID entry.
void giveCopyToRoot(const FileURL& copy, const FileURL& staged) {
    platform::FileDescriptor top(::open(copy.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!top.valid()) throw HelperError::signatureInvalid("The copy of " + staged.path() + " is not a folder.");
    try {
        platform::giveTreeToOwner(copy.path(), 0, 0, S_IWGRP | S_IWOTH);
        struct stat status {};
        if (::fstat(top.get(), &status) != 0) platform::throwSystemError("stat " + copy.path());
        if (::fchmod(top.get(), status.st_mode & 0755) != 0) platform::throwSystemError("chmod " + copy.path());
    } catch (const platform::SystemError& error) {
        throw HelperError::signatureInvalid(error.what());
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

void PrivilegedInstaller::copyApp(const FileURL& from, const FileURL& to) const {
    auto result = autoupdatekit::runTool(platform::paths::ditto, {from.path(), to.path()});
    if (!result.succeeded()) throw HelperError::installFailed(result.output);
}

void PrivilegedInstaller::launchApp(const std::string& path, const std::optional<platform::ChildIdentity>& identity) const {
    platform::launchDetached(platform::paths::open, {path}, identity);
}

void PrivilegedInstaller::install(const autoupdatekit::PrivilegedUpdateRequest& request) const {
    FileURL destination(policy_.destinationPath);
    FileURL staged(request.stagedAppPath());
    FileURL parent = destination.deletingLastPathComponent();
    std::string installName = sanitizedInstallName(destination);
    std::string copyIdentifier = platform::makeUUIDString();
    FileURL temporary = parent.appending(temporaryCopyName(installName, copyIdentifier));
    // The copy is made inside a folder only root can enter, so no other user holds a
    // descriptor into it while its entries still carry the staged bundle's owners.
    FileURL holding = parent.appending(holdingFolderName(installName, copyIdentifier));
    FileURL backup = parent.appending(backupName(installName, platform::makeUUIDString()));
    // Set once the exchange has put the installed app at the temporary name, until it
    // is safely at the backup name: then the temporary path must never be removed.
    bool temporaryHoldsInstalledApp = false;

    try {
        removeLeftovers();
        platform::removeRecursively(temporary.path());
        if (::mkdir(holding.path().c_str(), 0700) != 0) platform::throwSystemError("mkdir " + holding.path());
        FileURL copy = holding.appending(installName + ".app");
        copyApp(staged, copy);
        giveCopyToRoot(copy, staged);
        platform::renameWithoutReplacing(copy.path(), temporary.path());
        ::rmdir(holding.path().c_str());
        verifyApp(temporary.path(), policy_.bundleIdentifier, policy_.teamIdentifier);
        // Another install may have run since this request was checked.
        refuseDowngrade(temporary.path());

        {
            std::unique_lock<WriterFirstLock> swapping(installedAppLock_);
            if (exists(destination)) {
                // One atomic step: the destination always holds a whole bundle.
                platform::exchangePaths(temporary.path(), destination.path());
                temporaryHoldsInstalledApp = true;
                try {
                    platform::renameWithoutReplacing(temporary.path(), backup.path());
                    temporaryHoldsInstalledApp = false;
                } catch (...) {
                    platform::exchangePaths(temporary.path(), destination.path());
                    temporaryHoldsInstalledApp = false;
                    throw;
                }
            } else {
                platform::renameWithoutReplacing(temporary.path(), destination.path());
            }
        }
        verifyApp(destination.path(), policy_.bundleIdentifier, policy_.teamIdentifier);
        platform::removeRecursively(backup.path());
    } catch (const std::exception& error) {
        // Where the exchange back failed too, the old app stays at the temporary name.
        if (!temporaryHoldsInstalledApp) ignoringFailure([&] { platform::removeRecursively(temporary.path()); });
        ignoringFailure([&] { platform::removeRecursively(holding.path()); });
        if (exists(backup) && !exists(destination)) {
            ignoringFailure([&] { platform::renameWithoutReplacing(backup.path(), destination.path()); });
        }
        throw HelperError::installFailed(error.what());
    }
}

}  // namespace privilegedhelper
