// The install: a verified, root-owned copy beside the destination, swapped in with the
// installed app in one atomic exchange, checked again, then the old app removed.

#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"
#include "ToolRun.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/TextEncoding.hpp"
#include "Platform/ToolPaths.hpp"

#include <cerrno>
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
    FileURL temporary = parent.appending("." + installName + ".autoupdate." + copyIdentifier + ".app");
    // The copy is made inside a folder only root can enter, so no other user holds a
    // descriptor into it while its entries still carry the staged bundle's owners.
    FileURL holding = parent.appending("." + installName + ".autoupdate." + copyIdentifier + ".copying");
    FileURL backup = parent.appending("." + installName + ".autoupdate.backup." + platform::makeUUIDString() + ".app");

    try {
        platform::removeRecursively(temporary.path());
        if (::mkdir(holding.path().c_str(), 0700) != 0) platform::throwSystemError("mkdir " + holding.path());
        FileURL copy = holding.appending(installName + ".app");
        copyApp(staged, copy);
        struct stat status {};
        if (::lstat(copy.path().c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
            throw HelperError::signatureInvalid("The copy of " + staged.path() + " is not a folder.");
        }
        try {
            platform::giveTreeToOwner(copy.path(), 0, 0);
        } catch (const platform::SystemError& error) {
            throw HelperError::signatureInvalid(error.what());
        }
        platform::renameWithoutReplacing(copy.path(), temporary.path());
        ::rmdir(holding.path().c_str());
        verifyApp(temporary.path(), policy_.bundleIdentifier, policy_.teamIdentifier);

        {
            std::unique_lock<std::shared_mutex> swapping(installedAppLock_);
            if (exists(destination)) {
                // One atomic step: the destination always holds a whole bundle.
                platform::exchangePaths(temporary.path(), destination.path());
                try {
                    platform::renameWithoutReplacing(temporary.path(), backup.path());
                } catch (...) {
                    ignoringFailure([&] { platform::exchangePaths(temporary.path(), destination.path()); });
                    throw;
                }
            } else {
                platform::renameWithoutReplacing(temporary.path(), destination.path());
            }
        }
        verifyApp(destination.path(), policy_.bundleIdentifier, policy_.teamIdentifier);
        platform::removeRecursively(backup.path());
    } catch (const std::exception& error) {
        ignoringFailure([&] { platform::removeRecursively(temporary.path()); });
        ignoringFailure([&] { platform::removeRecursively(holding.path()); });
        if (exists(backup) && !exists(destination)) {
            ignoringFailure([&] { platform::renameWithoutReplacing(backup.path(), destination.path()); });
        }
        throw HelperError::installFailed(error.what());
    }
}

}  // namespace privilegedhelper
