#include "BundleTree.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/ReadBuffer.hpp"
#include "Platform/SystemError.hpp"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace autoupdatekit::BundleTree {
namespace {

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

platform::FileDescriptor openBelow(int folderFd, const std::string& name, int flags, const std::string& path) {
    platform::FileDescriptor fd(::openat(folderFd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) platform::throwSystemError("open " + path);
    return fd;
}

struct Walk {
    Walk(const Limits& walkLimits, Contents walkContents) : limits(walkLimits), contents(walkContents) {}

    const Limits& limits;
    Contents contents;
    std::vector<Entry> entries;
    platform::ReadBuffer buffer{1024 * 1024};
    platform::Sha256 hash;

    void fail(const std::string& path, const std::string& reason) const {
        throw std::runtime_error("The bundle entry " + path + " " + reason + ".");
    }

    void file(int fd, const std::string& path, Entry& entry) {
        platform::readInBlocks(fd, buffer, path, [&](const char* bytes, std::size_t size) {
            entry.size += size;
            if (entry.size > limits.fileSize) fail(path, "is larger than " + std::to_string(limits.fileSize) + " bytes");
            hash.update(bytes, size);
        });
        entry.digest = hash.finish();
    }

    void folder(int folderFd, const std::string& prefix, const std::string& root) {
        for (const auto& item : platform::directoryEntriesAt(folderFd, root + "/" + prefix)) {
            std::string path = prefix.empty() ? item : prefix + "/" + item;
            if (!isSafePath(path, limits)) fail(path, "has a path beyond the limits");
            if (entries.size() >= limits.entries) fail(path, "is one more than the " + std::to_string(limits.entries) + " allowed");
            struct stat status {};
            if (::fstatat(folderFd, item.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) platform::throwSystemError("stat " + path);
            if ((status.st_mode & 07000) != 0) fail(path, "has a set-id or sticky mode");
            Entry entry{path, EntryType::file, static_cast<std::uint32_t>(status.st_mode & 0777), {}, 0, {}};
            if (S_ISLNK(status.st_mode)) {
                entry.type = EntryType::link;
                entry.mode = 0;
                std::vector<char> target(limits.pathLength + 1);
                ssize_t length = ::readlinkat(folderFd, item.c_str(), target.data(), target.size());
                if (length < 0) platform::throwSystemError("read link " + path);
                entry.linkTarget.assign(target.data(), static_cast<std::size_t>(length));
                if (!isConfinedLinkTarget(path, entry.linkTarget)) fail(path, "is a link that leaves the bundle");
                entry.digest = platform::sha256(entry.linkTarget);
                entries.push_back(entry);
            } else if (S_ISDIR(status.st_mode)) {
                entry.type = EntryType::folder;
                entries.push_back(entry);
                folder(openBelow(folderFd, item, O_RDONLY | O_DIRECTORY, path).get(), path, root);
            } else if (S_ISREG(status.st_mode)) {
                if (contents == Contents::hashed) {
                    file(openBelow(folderFd, item, O_RDONLY, path).get(), path, entry);
                } else if ((entry.size = static_cast<std::uint64_t>(status.st_size)) > limits.fileSize) {
                    fail(path, "is larger than " + std::to_string(limits.fileSize) + " bytes");
                }
                entries.push_back(entry);
            } else {
                fail(path, "is neither a folder, a file nor a link");
            }
        }
    }
};

}  // namespace

std::vector<Entry> scan(const std::string& root, const Limits& limits, Contents contents) {
    platform::FileDescriptor rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!rootFd.valid()) platform::throwSystemError("open " + root);
    return scan(rootFd.get(), root, limits, contents);
}

std::vector<Entry> scan(int rootFd, const std::string& root, const Limits& limits, Contents contents) {
    Walk walk(limits, contents);
    walk.folder(rootFd, "", root);
    std::sort(walk.entries.begin(), walk.entries.end(), [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return std::move(walk.entries);
}

platform::Sha256Digest digest(const std::vector<Entry>& entries) {
    std::vector<const Entry*> sorted;
    for (const auto& entry : entries) sorted.push_back(&entry);
    std::sort(sorted.begin(), sorted.end(), [](const Entry* a, const Entry* b) { return a->path < b->path; });
    platform::Sha256 hash;
    for (const Entry* entry : sorted) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(entry->mode & 07777));
        std::string line = entry->path + '\0' + static_cast<char>(entry->type) + '\0' + mode + '\0' +
                           platform::hexLowercase(entry->digest.data(), entry->digest.size()) + "\n";
        hash.update(line.data(), line.size());
    }
    return hash.finish();
}

bool isSafePath(const std::string& path, const Limits& limits) {
    if (path.empty() || path.size() > limits.pathLength || path.find('\0') != std::string::npos) return false;
    auto parts = components(path);
    if (parts.size() > limits.depth) return false;
    return std::none_of(parts.begin(), parts.end(), [](const std::string& part) { return part.empty() || part == "." || part == ".."; });
}

bool isConfinedLinkTarget(const std::string& path, const std::string& target) {
    if (target.empty() || target.front() == '/' || target.find('\0') != std::string::npos) return false;
    auto parts = components(target);
    std::size_t parents = 0;
    while (parents < parts.size() && parts[parents] == "..") ++parents;
    if (parents > components(path).size() - 1) return false;
    return std::none_of(parts.begin() + static_cast<std::ptrdiff_t>(parents), parts.end(),
                        [](const std::string& part) { return part.empty() || part == "." || part == ".."; });
}

}  // namespace autoupdatekit::BundleTree
