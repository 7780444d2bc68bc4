#pragma once

#include <string>

namespace ditto {

// Copies the tree at source to destination, which must not exist (missing folders on
// the way to it are made): symbolic links are kept as links, hard links as links, and
// modes, extended attributes (access-control lists among them) and timestamps are kept;
// ownership and set-ID bits too when running as root. Special files are refused.
void copyTree(const std::string& source, const std::string& destination);

}  // namespace ditto
