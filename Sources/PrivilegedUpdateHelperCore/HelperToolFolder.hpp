#pragma once
// The platform tools the helper runs, from the absolute folder its maker embedded. Root
// runs them, so the helper starts only when root alone can change them: a folder that a
// user could write to would let that user run code as root.

#include <string>

namespace privilegedhelper::HelperToolFolder {

// The tools the helper runs, by name within the folder.
inline constexpr const char* codesign = "codesign";
inline constexpr const char* open = "open";

// Throws HelperError.untrustedToolFolder unless the folder and each tool the helper runs
// are owned by root and not writable by group or others, the folder a folder and the
// tools regular files; a link in their place is refused, not followed.
void check(const std::string& folder);

}  // namespace privilegedhelper::HelperToolFolder
