#include "Platform/ToolPaths.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/FileURL.hpp"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

namespace platform::paths {
namespace {

// Lies in whatever file this code was loaded from.
const char marker = 0;

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// The folder of the installed tree this code belongs to, seen from the shared library
// it is linked into, else from the executable.
std::string relativeToolDirectory() {
    Dl_info info{};
    link_map* map = nullptr;
    bool inSharedLibrary = ::dladdr1(&marker, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 && map != nullptr &&
                           map->l_name != nullptr && map->l_name[0] != '\0';
    FileURL file(realPath(inSharedLibrary ? map->l_name : currentExecutablePath()));
    return file.deletingLastPathComponent()
        .appending(inSharedLibrary ? AUTOUPDATEKIT_TOOLS_FROM_LIBDIR : AUTOUPDATEKIT_TOOLS_FROM_BINDIR)
        .standardized()
        .path();
}

std::string findToolDirectory() {
    std::string relative = relativeToolDirectory();
    struct stat status {};
    if (::stat(relative.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return relative;
    return AUTOUPDATEKIT_TOOL_DIR;
}

}  // namespace

std::string toolDirectory() {
    static const std::string folder = findToolDirectory();
    return folder;
}

}  // namespace platform::paths
