#include "Platform/UserDirectories.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace platform {
namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string homeDirectory() {
    std::string home = environmentValue("HOME");
    if (!home.empty()) return withoutTrailingSlashes(home);
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::string cachesDirectory() {
    std::string caches = environmentValue("XDG_CACHE_HOME");
    if (!caches.empty() && caches.front() == '/') return withoutTrailingSlashes(caches);
    return homeDirectory() + "/.cache";
}

std::string temporaryDirectory() {
    std::string temporary = environmentValue("TMPDIR");
    return temporary.empty() ? "/tmp" : withoutTrailingSlashes(temporary);
}

}  // namespace platform
