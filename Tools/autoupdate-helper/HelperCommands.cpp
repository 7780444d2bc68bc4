#include "HelperCommands.hpp"

#include "HelperPropertyLists.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "Platform/Bundle.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ServiceManagement.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/ToolPaths.hpp"

#include <cstdlib>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace helpertool {
namespace {

using commandline::UsageError;

constexpr const char* infoSection = "__info_plist";
constexpr const char* launchdSection = "__launchd_plist";

// The generic helper sits where the package installed it relative to this tool, so an
// installed tree works from whatever prefix it was installed to.
std::string genericHelperPath() {
    platform::FileURL tool(platform::currentExecutablePath());
    return tool.deletingLastPathComponent().appending(AUTOUPDATEKIT_GENERIC_HELPER_FROM_TOOL).standardized().path();
}

// A file beside the output holding the given bytes, so the finished helper can be
// renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& besidePath, std::string_view bytes = {}) : path_(besidePath + ".XXXXXX") {
        platform::FileDescriptor fd(::mkstemp(path_.data()));
        if (!fd.valid()) platform::throwSystemError("create a temporary file beside " + besidePath);
        platform::writeAll(fd.get(), bytes, path_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    const std::string& path() const noexcept { return path_; }
    void renameTo(const std::string& destination) {
        if (::rename(path_.c_str(), destination.c_str()) != 0) platform::throwSystemError("rename to " + destination);
        path_.clear();
    }

private:
    std::string path_;
};

int runMake(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {"--info-plist", "--launchd-plist", "--output"}, {});
    if (!parsed.positionals.empty()) throw UsageError("make takes no positional arguments");
    std::string infoPath = parsed.required("--info-plist");
    std::string launchdPath = parsed.required("--launchd-plist");
    std::string output = parsed.required("--output");

    platform::PropertyValue info = platform::PropertyList::readFile(infoPath);
    std::string serviceName = checkInfoPlist(info, infoPath);
    checkLaunchdPlist(platform::PropertyList::readFile(launchdPath), serviceName, launchdPath);
    std::string generic = genericHelperPath();
    if (::access(generic.c_str(), R_OK) != 0) platform::throwSystemError("read the generic helper " + generic);

    // The helper runs the tools of this install and no other, by absolute path.
    const auto* checked = info.getIf<platform::PropertyDictionary>();
    if (checked == nullptr) throw std::runtime_error(infoPath + ": not a property list dictionary");
    platform::PropertyDictionary policy = *checked;
    policy[autoupdatekit::PrivilegedUpdateDefaults::toolDirectoryKey] = platform::paths::toolDirectory();
    TemporaryFile embeddedInfo(output, platform::PropertyList::xml(policy));
    TemporaryFile made(output);
    auto result = platform::runCapturingOutput(AUTOUPDATEKIT_OBJCOPY_PATH,
        {"--add-section", std::string(infoSection) + "=" + embeddedInfo.path(),
         "--set-section-flags", std::string(infoSection) + "=readonly,contents",
         "--add-section", std::string(launchdSection) + "=" + launchdPath,
         "--set-section-flags", std::string(launchdSection) + "=readonly,contents", generic, made.path()});
    if (result.status != 0) throw std::runtime_error("objcopy failed: " + result.bytes);
    if (::chmod(made.path().c_str(), 0755) != 0) platform::throwSystemError("chmod " + made.path());
    made.renameTo(output);
    std::cout << "Made " << output << ", the privileged helper " << serviceName << "\n";
    return 0;
}

int runPrint(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {});
    if (parsed.positionals.size() != 1) throw UsageError("print takes one helper executable");
    const std::string& helper = parsed.positionals[0];
    auto info = platform::embeddedPropertyList(helper, infoSection);
    if (info.empty()) {
        throw std::runtime_error(helper + " carries no policy; make a helper with 'autoupdate-helper make'");
    }
    std::cout << "Info.plist (" << infoSection << "):\n" << platform::PropertyList::xml(info)
              << "launchd property list (" << launchdSection << "):\n"
              << platform::PropertyList::xml(platform::embeddedPropertyList(helper, launchdSection));
    return 0;
}

void requireRoot() {
    if (::geteuid() != 0) throw std::runtime_error("installing a helper for the whole system needs root");
}

int runInstall(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {});
    if (parsed.positionals.size() != 1) throw UsageError("install takes one helper executable");
    requireRoot();
    const std::string& helper = parsed.positionals[0];
    // Read once: the bytes checked for a label are the bytes installed.
    std::string label = platform::servicemanagement::installHelper(platform::readWholeFile(helper), helper);
    std::cout << "Installed the privileged helper " << label << "\n";
    return 0;
}

int runUninstall(const std::vector<std::string>& arguments) {
    auto parsed = commandline::parse(arguments, {}, {});
    if (parsed.positionals.size() != 1) throw UsageError("uninstall takes one label");
    requireRoot();
    platform::servicemanagement::uninstallHelper(parsed.positionals[0]);
    std::cout << "Uninstalled the privileged helper " << parsed.positionals[0] << "\n";
    return 0;
}

}  // namespace

const commandline::Command make{
    "usage: autoupdate-helper make --info-plist <Info.plist> --launchd-plist <launchd.plist> --output <path>\n"
    "  Writes a privileged helper serving the policy in <Info.plist>: the installed generic\n"
    "  helper with both property lists embedded. Both lists are checked first: every\n"
    "  policy key present, the launchd Label equal to AutoUpdateMachServiceName, and\n"
    "  ProgramArguments naming /Library/PrivilegedHelperTools/<label>. The policy gets\n"
    "  AutoUpdateToolDirectory, this install's tool folder, the only tools the helper runs.\n",
    runMake, 1};

const commandline::Command install{
    "usage: autoupdate-helper install <helper>\n"
    "  As root: installs a helper made with 'make' for the whole system, as an app's\n"
    "  package does from its maintainer scripts: the helper to\n"
    "  /Library/PrivilegedHelperTools/<label>, its job to /Library/LaunchDaemons/<label>.plist,\n"
    "  then enables and starts autoupdatekit-helper@<label>.socket where systemd runs, or\n"
    "  loads the job into the running supervisor elsewhere.\n",
    runInstall, 1};

const commandline::Command uninstall{
    "usage: autoupdate-helper uninstall <label>\n"
    "  As root: stops serving the helper and removes it and its job.\n",
    runUninstall, 1};

const commandline::Command print{
    "usage: autoupdate-helper print <helper>\n"
    "  Shows the Info.plist and launchd property list embedded in a helper.\n",
    runPrint, 1};

}  // namespace helpertool
