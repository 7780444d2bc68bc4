#pragma once

#include <string>

namespace ditto {

// Unpacks a PKZip archive into an existing folder. The whole archive is checked
// before anything is written (no absolute path, no ".." component, no entry through
// a symbolic link, no special file), then unpacked into a hidden folder inside the
// target and moved into place only when every entry is complete, so a refused or
// corrupt archive leaves nothing behind. Set-user-ID and set-group-ID bits and owners
// are never restored.
void extractZip(const std::string& archivePath, const std::string& targetFolder);

// Writes a PKZip archive of the tree at source; with keepParent the entries are
// under the source's own name. Written to a temporary name and renamed when done.
void createZip(const std::string& source, const std::string& archivePath, bool keepParent);

}  // namespace ditto
