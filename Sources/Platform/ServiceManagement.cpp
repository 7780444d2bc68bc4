#include "Platform/ServiceManagement.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/CodeRequirement.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/StaticCode.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/ToolPaths.hpp"

#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::servicemanagement {
namespace {

class BlessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Root creates the file in the shared folder itself, never through a link, gives it
// owner and mode on the open descriptor, and renames it into place.
void installRootFile(const std::string& folder, const std::string& name, const std::string& bytes, mode_t mode) {
    createDirectories(folder);
    std::string temporary = folder + "/." + name + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(temporary.c_str());
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) throwSystemError("create " + temporary);
    try {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t count = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
            if (count <= 0) throwSystemError("write " + temporary);
            done += static_cast<std::size_t>(count);
        }
        if (::fchown(fd.get(), 0, 0) != 0 || ::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0) {
            throwSystemError("attributes of " + temporary);
        }
        if (::rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0) throwSystemError("rename " + temporary);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

std::string checkedHelper(const std::string& label, const FileURL& appBundle) {
    if (label.empty() || label.front() == '.' || label.find('/') != std::string::npos) {
        throw BlessError("The label \"" + label + "\" is not a plain name.");
    }
    std::string helper = appBundle.path() + "/Contents/Library/LaunchServices/" + label;
    struct stat status {};
    if (::lstat(helper.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        throw BlessError("The app has no helper tool at " + helper + ".");
    }
    auto launchd = embeddedPropertyList(helper, "__launchd_plist");
    const std::string* embeddedLabel = PropertyList::stringValue(launchd, "Label");
    if (embeddedLabel == nullptr || *embeddedLabel != label) {
        throw BlessError("The helper's launchd property list does not name the label " + label + ".");
    }
    auto info = embeddedPropertyList(helper, "__info_plist");
    auto found = info.find("SMAuthorizedClients");
    const auto* clients = found == info.end() ? nullptr : found->second.getIf<PropertyArray>();
    const std::string* requirementText = clients && !clients->empty() ? clients->front().getIf<std::string>() : nullptr;
    auto requirement = requirementText ? codesigning::CodeRequirement::parse(*requirementText) : std::nullopt;
    if (!requirement) throw BlessError("The helper names no valid SMAuthorizedClients requirement.");
    std::optional<security::StaticCode> code;
    std::optional<std::string> problem;
    if (security::StaticCode::create(appBundle, 0, code) != security::statusSuccess ||
        code->checkValidity(security::checkNestedCode | security::strictValidate, &*requirement, &problem) != security::statusSuccess) {
        throw BlessError("The app does not satisfy the helper's SMAuthorizedClients requirement: " + problem.value_or("not a bundle"));
    }
    return helper;
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
        auto launchd = embeddedPropertyList(helper, "__launchd_plist");
        installRootFile(privilegedHelperToolsFolder, label, readWholeFile(helper), 0544);
        installRootFile(launchDaemonsFolder, label + ".plist", PropertyList::xml(PropertyValue(launchd)), 0644);
        std::string job = std::string(launchDaemonsFolder) + "/" + label + ".plist";
        auto loaded = runCapturingOutput(paths::launchctl, {"bootstrap", "system", job});
        if (loaded.status != 0) throw BlessError("launchctl bootstrap failed: " + loaded.bytes);
        return true;
    } catch (const std::exception& failure) {
        error = failure.what();
        return false;
    }
}

}  // namespace platform::servicemanagement
