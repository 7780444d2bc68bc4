// What killed installs leave beside the destination, removed before the next install
// and at start, so a helper that keeps dying mid-install cannot fill the disk.

#include "PrivilegedInstaller.hpp"

#include "InstallNames.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace privilegedhelper {

void PrivilegedInstaller::removeLeftovers() const {
    platform::FileURL destination(policy_.destinationPath);
    std::string parent = destination.deletingLastPathComponent().path();
    std::string installName = sanitizedInstallName(destination);
    platform::FileDescriptor folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) return;
    std::optional<bool> installedAppVerifies;
    for (const auto& entry : platform::directoryEntriesAt(folder.get(), parent)) {
        InstallLeftover kind = installLeftoverKind(entry, installName);
        if (kind == InstallLeftover::none) continue;
        // Only what the helper itself made: a root-owned folder, never a link.
        struct stat status {};
        if (::fstatat(folder.get(), entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != 0) {
            continue;
        }
        // A backup may be the only whole app left; it goes once the installed app verifies.
        if (kind == InstallLeftover::backup) {
            if (!installedAppVerifies) {
                try {
                    verifyApp(destination.path(), policy_.bundleIdentifier, policy_.teamIdentifier);
                    installedAppVerifies = true;
                } catch (const std::exception&) {
                    installedAppVerifies = false;
                }
            }
            if (!*installedAppVerifies) continue;
        }
        try {
            platform::removeRecursivelyAt(folder.get(), entry, parent + "/" + entry);
        } catch (const std::exception&) {
            // Left for the next attempt; the install itself does not depend on it.
        }
    }
}

}  // namespace privilegedhelper
