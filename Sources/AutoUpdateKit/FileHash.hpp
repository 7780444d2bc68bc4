#pragma once

#include "Platform/FileURL.hpp"

#include <string>

namespace autoupdatekit::FileHash {

// The file's SHA-256 as 64 lower-case hexadecimal digits, read in blocks (constant
// memory whatever the size). A read error passes through unchanged.
std::string hexDigest(const platform::FileURL& file);

}  // namespace autoupdatekit::FileHash
