#pragma once
// Rebuilds a release's bundle from the installed one and a delta, into an empty
// staging folder, checking it as strictly as a whole archive: the delta file against
// its signed size and SHA-256, the installed tree against the from-tree digest before
// anything is built, every file against its digest, and the result against the
// to-tree digest. The installed bundle is only read.

#include "AutoUpdateKit/ManifestExtension.hpp"
#include "BundleTree.hpp"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace autoupdatekit::DeltaApplier {

class DeltaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Limits {
    BundleTree::Limits tree;                             // entries, depth, path length, file size
    std::uint64_t totalSize = std::uint64_t{16} << 30;   // of all files of the new bundle
};

// Builds the new bundle's entries inside stagingFolder, which must be an empty folder.
// Memory stays within the largest old and new file plus a constant: files are written
// as they are decoded and an old file is mapped, not read in. Any failure removes
// everything built in stagingFolder (leaving it empty) and throws DeltaError, whose
// text says what did not match or what the delta tried.
void apply(const DeltaUpdate& delta, const std::string& deltaFile, const std::string& installedBundle,
           const std::string& stagingFolder, const Limits& limits = {});

}  // namespace autoupdatekit::DeltaApplier
