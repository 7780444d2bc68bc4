// The system-wide LaunchAgent that starts the installed app at every login.

#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/TextEncoding.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace privilegedhelper {
namespace {

constexpr const char* launchAgentsFolder = "/Library/LaunchAgents";

std::string executableName(const std::string& destinationPath) {
    const auto failure = HelperError::launchAgentFailed("Could not determine app executable name.");
    std::optional<platform::Bundle> bundle;
    try {
        bundle = platform::Bundle::open(platform::FileURL(destinationPath));
    } catch (const platform::PropertyListError&) {
        throw failure;
    }
    const std::string* name = bundle ? platform::PropertyList::stringValue(bundle->infoDictionary(), "CFBundleExecutable") : nullptr;
    // A name with "/" would point the agent outside the bundle.
    if (name == nullptr || platform::trimmingWhitespaceAndNewlines(*name).empty() || name->find('/') != std::string::npos) {
        throw failure;
    }
    return *name;
}

// Root creates the file in the shared folder itself, never through a link, gives it
// its owner and mode on the open descriptor, and renames it over the target.
void writeRootOwnedFile(const std::string& folder, const std::string& name, const std::string& bytes) {
    std::string temporary = folder + "/." + name + "." + std::to_string(::getpid()) + ".tmp";
    platform::FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) platform::throwSystemError("create " + temporary);
    try {
        if (::write(fd.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) platform::throwSystemError("write " + temporary);
        if (::fchown(fd.get(), 0, 0) != 0) platform::throwSystemError("chown " + temporary);
        if (::fchmod(fd.get(), 0644) != 0) platform::throwSystemError("chmod " + temporary);
        if (::fsync(fd.get()) != 0) platform::throwSystemError("fsync " + temporary);
        if (::rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0) platform::throwSystemError("rename " + temporary);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

}  // namespace

void PrivilegedInstaller::installSystemLaunchAgent() const {
    if (!policy_.launchAgentLabel) throw HelperError::launchAgentNotConfigured();
    const std::string& label = *policy_.launchAgentLabel;
    verifyApp(policy_.destinationPath, policy_.bundleIdentifier, policy_.teamIdentifier);
    std::string program = platform::FileURL(policy_.destinationPath)
                              .appending("Contents")
                              .appending("MacOS")
                              .appending(executableName(policy_.destinationPath))
                              .path();
    platform::PropertyDictionary agent{
        {"Label", label},
        {"ProgramArguments", platform::PropertyArray{program}},
        {"RunAtLoad", true},
        {"KeepAlive", false},
        {"LimitLoadToSessionType", "Aqua"},
    };
    std::string bytes = platform::PropertyList::xml(platform::PropertyValue(agent));
    platform::createDirectories(launchAgentsFolder);
    std::string file = label + ".plist";
    writeRootOwnedFile(launchAgentsFolder, file, bytes);
    std::string path = std::string(launchAgentsFolder) + "/" + file;
    if (::fchownat(AT_FDCWD, path.c_str(), 0, 0, AT_SYMLINK_NOFOLLOW) != 0) platform::throwSystemError("chown " + path);
    if (::chmod(path.c_str(), 0644) != 0) platform::throwSystemError("chmod " + path);
}

}  // namespace privilegedhelper
