#pragma once
// Small file helpers for tests: write, read and inspect real files.

#include "Platform/PropertyList.hpp"

#include <string>
#include <sys/stat.h>

namespace testsupport {

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

}  // namespace testsupport
