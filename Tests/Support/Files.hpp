#pragma once
// Small file helpers for tests: a temporary folder, real files written, read and
// inspected, and a program's output kept in files.

#include "Platform/PropertyList.hpp"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace testsupport {

// A fresh folder under /tmp, removed with everything in it when the test ends.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const noexcept { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);
std::string readFile(const std::string& path);
// The file's bytes, or "" when it cannot be read (it is missing, say).
std::string readFileIfAny(const std::string& path);
// The file's bytes once it ends a line (a writer may have only made it yet), waiting at
// most 5 s; what it holds by then.
std::string lineOnceWritten(const std::string& path);
// The messages of a log whose lines start "YYYY-MM-DDTHH:MM:SSZ ", one a line, without
// that stamp; lines without one (another tool's report) are left out.
std::string timestampedMessages(const std::string& log);
bool exists(const std::string& path);
struct stat lstatOf(const std::string& path);
// The dictionary of a property-list file; throws when the top level is not one.
platform::PropertyDictionary readDictionary(const std::string& path);
// Entries below the folder, as sorted relative paths.
std::string listTree(const std::string& folder);
// Stale whole-bundle backups of <folder>/Sample.app named for every second of the minute
// before and after now, each holding one file, so an install in that span meets one.
void writeStaleSampleBackups(const std::string& folder);

// A program run with its standard output and standard error kept apart, for tests of
// which stream a tool writes to.
struct SeparatedOutput {
    int status = 0;
    std::string standardOutput;
    std::string standardError;
};
SeparatedOutput runSeparatingOutput(const std::string& executablePath, const std::vector<std::string>& arguments);

}  // namespace testsupport
