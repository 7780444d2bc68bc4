#pragma once
// Whether the system's package manager owns a path. Such an app is the package
// manager's to update: the updater must never replace what it would later overwrite,
// or remove, as its own.

#include <optional>
#include <string>

namespace autoupdatekit::PackageOwnership {

// The package(s) owning the absolute path as dpkg records it ("acme-notes" or
// "acme-notes, acme-extras"), or nothing: also on a machine without dpkg.
std::optional<std::string> owningPackage(const std::string& path);

}  // namespace autoupdatekit::PackageOwnership
