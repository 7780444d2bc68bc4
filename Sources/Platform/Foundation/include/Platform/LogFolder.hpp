#pragma once
// The folder of a log that root writes, made when it is missing.

#include "Platform/FileDescriptor.hpp"

#include <string>

namespace platform {

// Opens the folder. When it is missing, makes only its last component, root-owned 0755,
// by the parent's descriptor, and only in a parent that root alone can change, so nobody
// can put a folder or a link of their own there first; missing parents are not made.
// Whatever is already there is used as it is. An invalid descriptor when there is none.
FileDescriptor openLogFolder(const std::string& path);

}  // namespace platform
