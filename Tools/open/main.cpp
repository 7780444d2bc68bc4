// open: launches an application bundle's executable, detached, without waiting.
//
//   open <path-to-app>
//
// Reads CFBundleExecutable (a plain file name) from the bundle's Info.plist and starts
// Contents/MacOS/<executable> in a new session with its standard streams on /dev/null,
// under the identity open itself runs with. Exit status 0 once the app has started;
// 1 with "open: <reason>" on standard error otherwise; 2 with the usage for bad usage.

#include "CommandLine.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/Process.hpp"

namespace {

constexpr const char* usage = "usage: open <path-to-app>\n";

std::string executablePath(const std::string& appPath) {
    auto bundle = platform::Bundle::open(platform::FileURL(appPath));
    if (!bundle) throw std::runtime_error(appPath + ": not an application bundle");
    const std::string* name = platform::PropertyList::stringValue(bundle->infoDictionary(), "CFBundleExecutable");
    if (name == nullptr || name->empty() || *name == "." || *name == ".." || name->find('/') != std::string::npos) {
        throw std::runtime_error(appPath + ": the bundle names no plain CFBundleExecutable");
    }
    return bundle->bundleURL().path() + "/Contents/MacOS/" + *name;
}

int run(const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) throw commandline::UsageError("give one application bundle");
    platform::launchDetached(executablePath(arguments[0]), {});
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return commandline::runProgram("open", {usage, run, 1}, argc, argv); }
