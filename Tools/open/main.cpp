// open: launches an application bundle's executable, detached, without waiting.
//
//   open <path-to-app>
//
// Reads CFBundleExecutable (a plain file name) from the bundle's Info.plist and starts
// Contents/MacOS/<executable> in a new session with its standard streams on /dev/null,
// under the identity open itself runs with. Exit status 0 once the app has started;
// 1 with "open: <reason>" on standard error otherwise.

#include "Platform/Bundle.hpp"
#include "Platform/Process.hpp"

#include <iostream>

namespace {

std::string executablePath(const std::string& appPath) {
    auto bundle = platform::Bundle::open(platform::FileURL(appPath));
    if (!bundle) throw std::runtime_error(appPath + ": not an application bundle");
    const std::string* name = platform::PropertyList::stringValue(bundle->infoDictionary(), "CFBundleExecutable");
    if (name == nullptr || name->empty() || *name == "." || *name == ".." || name->find('/') != std::string::npos) {
        throw std::runtime_error(appPath + ": the bundle names no plain CFBundleExecutable");
    }
    return bundle->bundleURL().path() + "/Contents/MacOS/" + *name;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: open <path-to-app>\n";
        return 1;
    }
    try {
        platform::launchDetached(executablePath(argv[1]), {});
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "open: " << error.what() << "\n";
        return 1;
    }
}
