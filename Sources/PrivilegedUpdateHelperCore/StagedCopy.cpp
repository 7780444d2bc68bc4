#include "StagedCopy.hpp"

#include "HelperError.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/ReadBuffer.hpp"
#include "Platform/SystemError.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace privilegedhelper::StagedCopy {
namespace {

using platform::FileDescriptor;
using Entry = StagedInventory::Entry;

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
    return text;
}

// The rules every entry below the staged folder keeps, checked before it is read.
void requireAllowed(const struct stat& status, const std::string& path, uid_t requester) {
    if (requester != 0 && status.st_uid != requester) {
        throw HelperError::signatureInvalid(path + " does not belong to the requesting user.");
    }
    if (S_ISLNK(status.st_mode)) return;
    if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode)) throw HelperError::signatureInvalid(path + " is a special file.");
    if ((status.st_mode & (S_ISUID | S_ISGID)) != 0) throw HelperError::signatureInvalid("set-ID file " + path);
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        throw HelperError::signatureInvalid("refused mode " + octal(status.st_mode & 07777) + " of " + path);
    }
}

struct Listed {
    std::string name;
    struct stat status;
};

// A folder's entries in sorted order, each already held to the rules.
std::vector<Listed> checkedEntries(int folder, const std::string& path, uid_t requester) {
    auto names = platform::directoryEntriesAt(folder, path);
    std::sort(names.begin(), names.end());
    std::vector<Listed> listed;
    listed.reserve(names.size());
    for (auto& name : names) {
        std::string entryPath = path + "/" + name;
        struct stat status {};
        if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) platform::throwSystemError("stat " + entryPath);
        requireAllowed(status, entryPath, requester);
        listed.push_back({std::move(name), status});
    }
    return listed;
}

Entry entryFor(const Listed& listed, std::uint32_t depth) {
    const auto& status = listed.status;
    unsigned char type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISREG(status.st_mode) ? DT_REG : DT_LNK;
    auto size = S_ISDIR(status.st_mode) ? 0 : static_cast<std::uint64_t>(status.st_size);
    return {depth, type, size, std::hash<std::string>{}(listed.name)};
}

FileDescriptor openFolderAt(int folder, const std::string& name, const std::string& path) {
    FileDescriptor opened(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!opened.valid()) platform::throwSystemError("open " + path);
    return opened;
}

void requireDepth(std::uint32_t depth, const std::string& path) {
    if (depth > maximumDepth) {
        throw HelperError::signatureInvalid("folders nested more than " + std::to_string(maximumDepth) + " deep in " + path);
    }
}

void addInventory(int folder, const std::string& path, std::uint32_t depth, uid_t requester, StagedInventory& inventory) {
    requireDepth(depth, path);
    for (const auto& listed : checkedEntries(folder, path, requester)) {
        if (inventory.entries.size() == maximumEntries) {
            throw HelperError::signatureInvalid("more than " + std::to_string(maximumEntries) + " entries in " + path);
        }
        inventory.entries.push_back(entryFor(listed, depth));
        inventory.totalBytes += inventory.entries.back().size;
        if (S_ISDIR(listed.status.st_mode)) {
            std::string entryPath = path + "/" + listed.name;
            addInventory(openFolderAt(folder, listed.name, entryPath).get(), entryPath, depth + 1, requester, inventory);
        }
    }
}

// The copy of one staged tree: walks it in the inventory's order and stops at the
// first entry that differs from what the check saw.
class TreeCopy {
public:
    TreeCopy(const StagedBundle& staged, const StagedInventory& inventory, int targetFolder, std::string targetPath)
        : staged_(staged), inventory_(inventory), targetFolder_(targetFolder), targetPath_(std::move(targetPath)) {}

    void copyFolder(int from, int to, const std::string& path, std::uint32_t depth) {
        requireDepth(depth, path);
        for (const auto& listed : checkedEntries(from, path, staged_.requester())) {
            std::string entryPath = path + "/" + listed.name;
            const Entry& expected = expect(entryFor(listed, depth), entryPath);
            const char* name = listed.name.c_str();
            if (expected.type == DT_DIR) {
                FileDescriptor source = openFolderAt(from, listed.name, entryPath);
                if (::mkdirat(to, name, 0700) != 0) platform::throwSystemError("mkdir " + entryPath);
                FileDescriptor target = openFolderAt(to, listed.name, entryPath);
                copyFolder(source.get(), target.get(), entryPath, depth + 1);
                finish(target.get(), listed.status, entryPath);
            } else if (expected.type == DT_REG) {
                copyFile(from, to, listed, expected.size, entryPath);
            } else {
                copyLink(from, to, name, expected.size, entryPath);
            }
        }
    }

    void requireWhole() const {
        if (next_ != inventory_.entries.size()) throw std::runtime_error(staged_.requestedPath() + " lost entries since the request was checked.");
    }

    // Fails unless bytes more can be written and the reserve still be free.
    void requireFreeSpace(std::uint64_t bytes) const {
        struct statvfs fileSystem {};
        if (::fstatvfs(targetFolder_, &fileSystem) != 0) platform::throwSystemError("statvfs " + targetPath_);
        std::uint64_t available = std::uint64_t{fileSystem.f_bavail} * fileSystem.f_frsize;
        std::uint64_t reserve = freeSpaceReserve(fileSystem);
        if (available < reserve || available - reserve < bytes) {
            throw std::runtime_error("Not enough free space for " + targetPath_ + ": " + std::to_string(bytes) + " bytes to copy, " +
                                     std::to_string(available) + " free, and " + std::to_string(reserve) + " must stay free.");
        }
    }

private:
    const Entry& expect(const Entry& seen, const std::string& path) {
        if (next_ == inventory_.entries.size() || inventory_.entries[next_] != seen) {
            throw std::runtime_error(path + " is not what it was when the request was checked.");
        }
        return inventory_.entries[next_++];
    }

    void copyFile(int from, int to, const Listed& listed, std::uint64_t size, const std::string& path) {
        FileDescriptor source(::openat(from, listed.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!source.valid()) platform::throwSystemError("open " + path);
        requireUnchanged(source.get(), size, path);
        requireFreeSpace(size);
        FileDescriptor target(::openat(to, listed.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!target.valid()) platform::throwSystemError("create " + path);
        copyBytes(source.get(), target.get(), size, path);
        requireUnchanged(source.get(), size, path);
        finish(target.get(), listed.status, path);
    }

    // The open file is still the requester's regular file of the size the check saw.
    void requireUnchanged(int file, std::uint64_t size, const std::string& path) const {
        struct stat status {};
        if (::fstat(file, &status) != 0) platform::throwSystemError("stat " + path);
        requireAllowed(status, path, staged_.requester());
        if (!S_ISREG(status.st_mode) || static_cast<std::uint64_t>(status.st_size) != size) {
            throw std::runtime_error(path + " is not what it was when the request was checked.");
        }
    }

    // Exactly size bytes: a source that ends sooner fails, and one that grew is caught
    // by the size check after.
    void copyBytes(int from, int to, std::uint64_t size, const std::string& path) {
        std::uint64_t copied = 0;
        while (copied < size) {
            ssize_t moved = ::copy_file_range(from, nullptr, to, nullptr, size - copied, 0);
            if (moved > 0) {
                copied += static_cast<std::uint64_t>(moved);
            } else if (moved == 0) {
                throw std::runtime_error(path + " is not what it was when the request was checked.");
            } else if (errno != EINTR) {
                if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) platform::throwSystemError("copy " + path);
                break;  // not between these two file systems: through a buffer
            }
        }
        while (copied < size) {
            ssize_t count = ::read(from, buffer_.data(), static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), size - copied)));
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) platform::throwSystemError("read " + path);
            if (count == 0) throw std::runtime_error(path + " is not what it was when the request was checked.");
            platform::writeAll(to, std::string_view(buffer_.data(), static_cast<std::size_t>(count)), path);
            copied += static_cast<std::uint64_t>(count);
        }
    }

    void copyLink(int from, int to, const char* name, std::uint64_t size, const std::string& path) {
        char target[PATH_MAX];
        ssize_t length = ::readlinkat(from, name, target, sizeof target);
        if (length < 0) platform::throwSystemError("readlink " + path);
        if (static_cast<std::uint64_t>(length) != size) throw std::runtime_error(path + " is not what it was when the request was checked.");
        if (::symlinkat(std::string(target, static_cast<std::size_t>(length)).c_str(), to, name) != 0) {
            platform::throwSystemError("symlink " + path);
        }
    }

    // The staged mode (already held to the rules) and times, on the new entry.
    static void finish(int entry, const struct stat& staged, const std::string& path) {
        timespec times[2] = {staged.st_atim, staged.st_mtim};
        if (::fchmod(entry, staged.st_mode & 07777) != 0 || ::futimens(entry, times) != 0) platform::throwSystemError("finish " + path);
    }

    const StagedBundle& staged_;
    const StagedInventory& inventory_;
    int targetFolder_;
    std::string targetPath_;
    std::size_t next_ = 0;
    platform::ReadBuffer buffer_{1 << 20};
};

}  // namespace

std::uint64_t freeSpaceReserve(const struct statvfs& fileSystem) {
    std::uint64_t size = std::uint64_t{fileSystem.f_blocks} * fileSystem.f_frsize;
    return std::max(size / 20, minimumFreeSpaceReserve);
}

StagedInventory takeInventory(const StagedBundle& staged) {
    StagedInventory inventory;
    struct stat top {};
    if (::fstat(staged.descriptor(), &top) != 0) platform::throwSystemError("stat " + staged.requestedPath());
    inventory.topMode = top.st_mode & 07777;
    addInventory(staged.descriptor(), staged.requestedPath(), 1, staged.requester(), inventory);
    return inventory;
}

void copy(const StagedBundle& staged, const StagedInventory& inventory, int targetFolder, const std::string& name,
          const std::string& targetPath) {
    TreeCopy copy(staged, inventory, targetFolder, targetPath);
    copy.requireFreeSpace(inventory.totalBytes);
    if (::mkdirat(targetFolder, name.c_str(), 0700) != 0) platform::throwSystemError("mkdir " + targetPath);
    FileDescriptor target = openFolderAt(targetFolder, name, targetPath);
    copy.copyFolder(staged.descriptor(), target.get(), staged.requestedPath(), 1);
    copy.requireWhole();
}

}  // namespace privilegedhelper::StagedCopy
