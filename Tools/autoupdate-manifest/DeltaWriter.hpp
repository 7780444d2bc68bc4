#pragma once
// Writes the delta that rebuilds one bundle from another, file by file: a file whose
// content the old bundle holds under any path is copied, one that changed is patched
// against the old file at its path (else one of the same name elsewhere) when that is
// smaller than compressing it alone (with zstd's matching, and for executables also as
// a difference patch), and every other file is compressed alone.

#include <cstdint>
#include <string>

namespace deltawriter {

struct Summary {
    std::uint64_t copies = 0;
    std::uint64_t patches = 0;
    std::uint64_t differences = 0;
    std::uint64_t wholeFiles = 0;
    std::uint64_t removals = 0;
    std::uint64_t bytes = 0;
    std::string fromTreeSHA256;
    std::string toTreeSHA256;
};

// Writes the delta to output, which must not exist; level is zstd's compression level.
Summary write(const std::string& oldBundle, const std::string& newBundle, const std::string& output, int level);

}  // namespace deltawriter
