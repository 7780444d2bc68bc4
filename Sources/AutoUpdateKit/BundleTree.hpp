#pragma once
// A bundle as a list of entries (path, type, mode, content digest) and the tree digest
// over that list, which names one exact bundle: a delta applies only to the installed
// tree it was made from and must rebuild exactly the tree it was made for.

#include "Platform/Crypto.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace autoupdatekit::BundleTree {

enum class EntryType : char { folder = 'd', file = 'f', link = 'l' };

struct Entry {
    std::string path;  // relative to the bundle, components joined by '/'
    EntryType type = EntryType::file;
    std::uint32_t mode = 0;      // permission bits only; 0 for links
    platform::Sha256Digest digest{};  // of a file's content or a link's target text; zeros for folders
    std::uint64_t size = 0;      // of a file's content
    std::string linkTarget;

    bool operator==(const Entry&) const = default;
};

struct Limits {
    std::size_t entries = 100000;
    std::size_t depth = 64;
    std::size_t pathLength = 1024;
    std::uint64_t fileSize = std::uint64_t{4} << 30;
};

// Whether a scan reads every file for its digest, or takes only its size, leaving the
// digest zeros, for a caller that hashes the content as it reads it anyway.
enum class Contents { hashed, sizesOnly };

// The entries under root in ascending byte-wise path order, the root itself left out.
// Throws std::runtime_error for an entry that is not a folder, file or link, a mode
// with more than permission bits, a path or link target the rules below refuse, or a
// tree beyond the limits. No link is followed.
std::vector<Entry> scan(const std::string& root, const Limits& limits = {}, Contents contents = Contents::hashed);
// The same for a folder already open; root names it in messages.
std::vector<Entry> scan(int rootFd, const std::string& root, const Limits& limits = {}, Contents contents = Contents::hashed);

// SHA-256 over, for each entry in ascending byte-wise path order: the path, NUL, the
// type letter (d, f or l), NUL, the mode as four octal digits, NUL, the digest as 64
// lower-case hexadecimal digits, line feed.
platform::Sha256Digest digest(const std::vector<Entry>& entries);

// A path a bundle may hold: relative, '/'-separated, no empty, "." or ".." component,
// no NUL, within the limits of length and depth.
bool isSafePath(const std::string& path, const Limits& limits);

// A link target that stays inside the bundle from the link at path: relative, its ".."
// components all at the start and no more of them than the link has parent folders,
// and no "." or ".." after them. Links are then confined whatever links they pass.
bool isConfinedLinkTarget(const std::string& path, const std::string& target);

}  // namespace autoupdatekit::BundleTree
