// The system-wide LaunchAgent that starts the installed app at every login.

#include "PrivilegedInstaller.hpp"

#include "HelperError.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/TextEncoding.hpp"

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
    platform::installRootOwnedFile(launchAgentsFolder, file, bytes, 0644);
}

}  // namespace privilegedhelper
