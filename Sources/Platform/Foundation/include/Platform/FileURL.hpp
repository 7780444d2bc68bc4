#pragma once
// A file URL: an absolute path. Relative paths are taken against the working directory
// when the URL is made; symbolic links are never resolved.

#include "Platform/Export.hpp"
#include <string>
#include <vector>

namespace platform {

class PLATFORM_EXPORT FileURL {
public:
    // Makes an absolute URL from a path; trailing slashes are dropped (but "/" stays).
    explicit FileURL(const std::string& path);

    const std::string& path() const noexcept { return path_; }

    // "." components removed, ".." components resolved against the text (not the disk),
    // repeated slashes folded; ".." above the root stays at the root.
    FileURL standardized() const;

    FileURL appending(const std::string& component) const;
    FileURL deletingLastPathComponent() const;
    std::string lastPathComponent() const;

    bool operator==(const FileURL&) const = default;

private:
    std::string path_;
};

// The "/"-separated components of a path, with empty and "." components dropped
// (".." is kept for the caller to judge).
PLATFORM_EXPORT std::vector<std::string> pathComponents(const std::string& path);

}  // namespace platform
