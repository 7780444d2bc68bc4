#include "PackageOwnership.hpp"

#include "ToolRun.hpp"

#include <sstream>
#include <unistd.h>

namespace autoupdatekit::PackageOwnership {
namespace {

// dpkg's own query tool, never one found through PATH: the public way into dpkg's
// database, whose files (info/*.list) are dpkg's to change. It reads without taking
// dpkg's lock; one run per check that found a newer release costs a few milliseconds.
constexpr const char* dpkgQuery = "/usr/bin/dpkg-query";

// dpkg-query takes a glob; a path's own wildcard characters must match themselves.
std::string literalPattern(const std::string& path) {
    std::string pattern;
    for (char c : path) {
        if (c == '*' || c == '?' || c == '[' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace

std::optional<std::string> owningPackage(const std::string& path) {
    if (::access(dpkgQuery, X_OK) != 0) return std::nullopt;
    // Status 0 with "<packages>: <path>"; 1 when no package owns the path.
    ToolRunResult result = runTool(dpkgQuery, {"--search", literalPattern(path)});
    if (!result.succeeded()) return std::nullopt;
    std::istringstream lines(result.output);
    std::string line;
    std::string suffix = ": " + path;
    while (std::getline(lines, line)) {
        bool names = line.size() > suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0;
        // Diversions are reported too ("diversion by <package> from: <path>"); they own nothing.
        if (names && line.rfind("diversion by ", 0) != 0) return line.substr(0, line.size() - suffix.size());
    }
    return std::nullopt;
}

}  // namespace autoupdatekit::PackageOwnership
