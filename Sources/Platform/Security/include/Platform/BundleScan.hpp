#pragma once
// The scan behind sealing and verifying: every entry of a bundle with its type, mode
// and SHA-256 (files) or target (links).

#include "Platform/CodeSeal.hpp"

#include <string>
#include <vector>

namespace platform::codesigning {

struct BundleContents {
    std::vector<SealedEntry> entries;        // in walk order: each folder's names sorted
    std::vector<std::string> nestedBundles;  // relative paths of nested .app and .framework folders
    std::vector<std::string> unsupported;    // special files (FIFOs, devices, sockets)
};

// Walks the bundle by folder descriptors without following links, and hashes every
// file on one worker per core while the walk goes on. The bundle's own seal file is
// left out. Throws SystemError when an entry cannot be read, or when a file turns out
// not to be a regular file once opened (something was swapped in during the scan).
BundleContents scanBundle(const std::string& bundlePath);

}  // namespace platform::codesigning
