#pragma once
// Writes PKZip archives entry by entry, including hostile ones no honest tool makes.

#include <string>
#include <vector>

namespace testsupport {

struct ZipEntry {
    enum class Kind { file, directory, symbolicLink };
    std::string name;
    Kind kind = Kind::file;
    std::string content;  // file data, or the link target
    unsigned mode = 0644;
};

void writeZip(const std::string& path, const std::vector<ZipEntry>& entries);

}  // namespace testsupport
