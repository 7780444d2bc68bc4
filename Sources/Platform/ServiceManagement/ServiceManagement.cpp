#include "Platform/ServiceManagement.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/CodeRequirement.hpp"
#include "Platform/CodeSigning.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/SecurityStatus.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/ToolPaths.hpp"

#include <algorithm>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>
#include <unistd.h>

namespace platform::servicemanagement {
namespace {

// A helper tool is a small executable; this only bounds what a hostile app could make
// root read.
constexpr std::size_t maximumHelperSize = 256 * 1024 * 1024;

class BlessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The helper inside the app, read once through descriptors: the bytes checked are the
// bytes installed, whatever happens to the app's files meanwhile.
std::string helperImage(const std::string& label, const FileURL& appBundle) {
    std::string folder = appBundle.path() + "/Contents/Library/LaunchServices";
    std::string helper = folder + "/" + label;
    try {
        FileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folderFd.valid()) throwSystemError("open " + folder);
        if (auto image = readRegularFileAt(folderFd.get(), label, maximumHelperSize, helper)) return *image;
    } catch (const SystemError&) {
    }
    throw BlessError("The app has no helper tool at " + helper + ".");
}

void requirePlainLabel(const std::string& label) {
    if (label.empty() || label.front() == '.' || label.find('/') != std::string::npos) {
        throw BlessError("The label \"" + label + "\" is not a plain name.");
    }
}

// The Label of the helper's embedded launchd property list.
std::string embeddedLabel(const std::string& image, const std::string& origin) {
    auto launchd = embeddedPropertyList(image, "__launchd_plist", origin);
    const std::string* label = PropertyList::stringValue(launchd, "Label");
    if (label == nullptr) throw BlessError("The helper at " + origin + " has no launchd property list naming its label.");
    requirePlainLabel(*label);
    return *label;
}

std::string jobPath(const std::string& label) { return std::string(launchDaemonsFolder) + "/" + label + ".plist"; }

void runOrThrow(const std::string& tool, const std::vector<std::string>& arguments) {
    auto result = runCapturingOutput(tool, arguments);
    if (result.status != 0) throw BlessError(FileURL(tool).lastPathComponent() + " " + arguments.front() + " failed: " + result.bytes);
}

// Checks, changing nothing, and returns the helper's bytes: its embedded label, its
// SMAuthorizedClients requirement met by the app, and the app's verified seal listing
// exactly these bytes for the helper.
std::string checkedHelper(const std::string& label, const FileURL& appBundle) {
    requirePlainLabel(label);
    std::string image = helperImage(label, appBundle);
    std::string origin = appBundle.path() + "/Contents/Library/LaunchServices/" + label;
    if (embeddedLabel(image, origin) != label) {
        throw BlessError("The helper's launchd property list does not name the label " + label + ".");
    }
    auto info = embeddedPropertyList(image, "__info_plist", origin);
    auto found = info.find("SMAuthorizedClients");
    const auto* clients = found == info.end() ? nullptr : found->second.getIf<PropertyArray>();
    const std::string* requirementText = clients && !clients->empty() ? clients->front().getIf<std::string>() : nullptr;
    auto requirement = requirementText ? codesigning::CodeRequirement::parse(*requirementText) : std::nullopt;
    if (!requirement) throw BlessError("The helper names no valid SMAuthorizedClients requirement.");
    auto verification = codesigning::verifyBundle(appBundle.path(), {true, true, std::nullopt});
    const std::string unmet = "The app does not satisfy the helper's SMAuthorizedClients requirement: ";
    if (!verification.valid()) throw BlessError(unmet + verification.problem);
    const auto& seal = *verification.seal;
    if (!requirement->isSatisfiedBy({seal.identifier, seal.teamIdentifier, seal.teamIdentifier.has_value()})) {
        throw BlessError(unmet + *security::statusMessage(security::statusRequirementFailed));
    }
    Sha256Digest digest = sha256(image);
    codesigning::SealedEntry expected{"Contents/Library/LaunchServices/" + label, codesigning::SealedEntry::Type::file, 0,
                                      hexLowercase(digest.data(), digest.size())};
    bool sealed = std::any_of(seal.entries.begin(), seal.entries.end(), [&](const codesigning::SealedEntry& entry) {
        return entry.path == expected.path && entry.type == expected.type && entry.content == expected.content;
    });
    if (!sealed) throw BlessError("The helper tool changed while it was checked: " + origin);
    return image;
}

// Asks the administrator, through polkit, to run the blessing as root; every check is
// made again there. pkexec answers 126 when the prompt was dismissed, and 127 when
// polkit refused or no prompt could be shown (it then says it has no authentication
// agent).
void blessThroughPrompt(const std::string& label, const FileURL& appBundle) {
    std::string command = paths::bless() + " " + label + " " + appBundle.path();
    std::string instead = " To install it, run as root: " + command;
    CapturedOutput result;
    try {
        result = runCapturingOutput(paths::pkexec, {paths::bless(), label, appBundle.path()});
    } catch (const LaunchError&) {
        throw BlessError("No administrator prompt is available (" + std::string(paths::pkexec) + " is missing)." + instead);
    }
    if (result.status == 126) throw BlessError("The administrator prompt was dismissed." + instead);
    if (result.status == 127 && result.bytes.find("authentication agent") != std::string::npos) {
        throw BlessError("No administrator prompt could be shown (no polkit authentication agent)." + instead);
    }
    if (result.status == 127) throw BlessError("The administrator did not allow installing the helper." + instead);
    if (result.status != 0) throw BlessError(result.bytes);
}

}  // namespace

bool systemdRuns() {
    struct stat status {};
    return ::lstat("/run/systemd/system", &status) == 0 && S_ISDIR(status.st_mode);
}

std::string socketUnit(const std::string& label) { return "autoupdatekit-helper@" + label + ".socket"; }

security::OSStatus Authorization::create(std::uint32_t flags, std::optional<Authorization>& authorization) {
    authorization.reset();
    bool root = ::geteuid() == 0;
    if (!root && (flags & authorizationInteractionAllowed) == 0) return security::statusAuthorizationDenied;
    authorization = Authorization(!root);
    return security::statusSuccess;
}

void Authorization::free(std::uint32_t) { freed_ = true; }

bool jobBless(const std::string& label, const FileURL& appBundle, const Authorization& authorization, std::optional<std::string>& error) {
    try {
        if (authorization.needsPrompt()) {
            blessThroughPrompt(label, appBundle);
        } else {
            installHelper(checkedHelper(label, appBundle), label);
        }
        return true;
    } catch (const std::exception& failure) {
        error = failure.what();
        return false;
    }
}

std::string installHelper(const std::string& helperImage, const std::string& origin) {
    std::string label = embeddedLabel(helperImage, origin);
    auto launchd = embeddedPropertyList(helperImage, "__launchd_plist", origin);
    createDirectories(privilegedHelperToolsFolder);
    installRootOwnedFile(privilegedHelperToolsFolder, label, helperImage, 0544);
    createDirectories(launchDaemonsFolder);
    installRootOwnedFile(launchDaemonsFolder, label + ".plist", PropertyList::xml(PropertyValue(launchd)), 0644);
    if (systemdRuns()) {
        runOrThrow(systemctlPath, {"enable", "--now", socketUnit(label)});
    } else {
        runOrThrow(paths::launchctl(), {"bootstrap", "system", jobPath(label)});
    }
    return label;
}

void uninstallHelper(const std::string& label) {
    requirePlainLabel(label);
    // Stopping what is not running is no failure: only the removal must succeed.
    if (systemdRuns()) {
        runDiscardingOutput(systemctlPath, {"disable", "--now", socketUnit(label)});
        runDiscardingOutput(systemctlPath, {"stop", "autoupdatekit-helper@" + label + ".service"});
    } else {
        runDiscardingOutput(paths::launchctl(), {"bootout", "system/" + label});
    }
    removeRecursively(std::string(privilegedHelperToolsFolder) + "/" + label);
    removeRecursively(jobPath(label));
}

}  // namespace platform::servicemanagement
