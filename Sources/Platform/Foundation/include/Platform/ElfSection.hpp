#pragma once
// Reads a named section of a 64-bit ELF file, where executables outside a bundle keep
// their Info.plist and launchd property list.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The section's bytes, or nothing when the file has no such section. A file that is
// not a well-formed ELF64 image throws std::runtime_error.
std::optional<std::string> readElfSection(const std::string& path, const std::string& sectionName);
// The same for an image already in memory; origin names it in messages.
std::optional<std::string> elfSection(std::string_view image, const std::string& sectionName, const std::string& origin);

}  // namespace platform
