#pragma once

#include <string>

namespace ditto {

// Copies the tree at source to destination, which must not exist: symbolic links are
// kept as links, hard links as links, and modes, extended attributes and timestamps
// are kept; ownership too when running as root.
void copyTree(const std::string& source, const std::string& destination);

}  // namespace ditto
