#pragma once
// The helper process: read the policy, export the installer, serve for ever.

#include "Platform/PropertyList.hpp"

namespace privilegedhelper::PrivilegedUpdateHelperMain {

// Runs with the main bundle's info dictionary (the executable's embedded Info.plist).
[[noreturn]] void run();

// Runs with the given info dictionary. On a missing policy value writes
// "PrivilegedUpdateHelper failed: <description>" to standard error and exits 1.
[[noreturn]] void run(const platform::PropertyDictionary& info);

}  // namespace privilegedhelper::PrivilegedUpdateHelperMain
