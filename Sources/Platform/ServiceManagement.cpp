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

// Checks, changing nothing, and returns the helper's bytes: its embedded label, its
// SMAuthorizedClients requirement met by the app, and the app's verified seal listing
// exactly these bytes for the helper.
std::string checkedHelper(const std::string& label, const FileURL& appBundle) {
    if (label.empty() || label.front() == '.' || label.find('/') != std::string::npos) {
        throw BlessError("The label \"" + label + "\" is not a plain name.");
    }
    std::string image = helperImage(label, appBundle);
    std::string origin = appBundle.path() + "/Contents/Library/LaunchServices/" + label;
    auto launchd = embeddedPropertyList(image, "__launchd_plist", origin);
    const std::string* embeddedLabel = PropertyList::stringValue(launchd, "Label");
    if (embeddedLabel == nullptr || *embeddedLabel != label) {
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

}  // namespace

security::OSStatus Authorization::create(std::uint32_t, std::optional<Authorization>& authorization) {
    authorization.reset();
    if (::geteuid() != 0) return security::statusAuthorizationDenied;
    authorization = Authorization();
    return security::statusSuccess;
}

void Authorization::free(std::uint32_t) { freed_ = true; }

bool jobBless(const std::string& label, const FileURL& appBundle, const Authorization&, std::optional<std::string>& error) {
    try {
        std::string helper = checkedHelper(label, appBundle);
        auto launchd = embeddedPropertyList(helper, "__launchd_plist", label);
        createDirectories(privilegedHelperToolsFolder);
        installRootOwnedFile(privilegedHelperToolsFolder, label, helper, 0544);
        createDirectories(launchDaemonsFolder);
        installRootOwnedFile(launchDaemonsFolder, label + ".plist", PropertyList::xml(PropertyValue(launchd)), 0644);
        std::string job = std::string(launchDaemonsFolder) + "/" + label + ".plist";
        auto loaded = runCapturingOutput(paths::launchctl(), {"bootstrap", "system", job});
        if (loaded.status != 0) throw BlessError("launchctl bootstrap failed: " + loaded.bytes);
        return true;
    } catch (const std::exception& failure) {
        error = failure.what();
        return false;
    }
}

}  // namespace platform::servicemanagement
