#include "Platform/FileSystem.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/SystemError.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <limits>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

void removeEntryAt(int parentFd, const std::string& name, const std::string& path);

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// Names in the open folder, without "." and "..". The descriptor stays open.

void removeDirectoryContents(int directoryFd, const std::string& path) {
    for (const auto& name : directoryEntriesAt(directoryFd, path)) removeEntryAt(directoryFd, name, path + "/" + name);
}

void removeEntryAt(int parentFd, const std::string& name, const std::string& path) {
    if (::unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT) return;
    if (errno != EISDIR && errno != EPERM) throwSystemError("remove " + path);
    FileDescriptor child(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!child.valid()) throwSystemError("open " + path);
    removeDirectoryContents(child.get(), path);
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) throwSystemError("remove " + path);
}

// Everything left in the descriptor; more than maximumSize bytes throws EFBIG.
// expectedSize (what fstat said) is reserved up front: growing a string of megabytes by
// doubling copies it several times and touches twice the memory.
std::string readToEnd(int fd, std::size_t maximumSize, const std::string& path, std::size_t expectedSize = 0) {
    std::string bytes;
    bytes.reserve(std::min(expectedSize, maximumSize) + 1);
    char buffer[65536];
    while (true) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            throwSystemError("read " + path);
        }
        if (count == 0) return bytes;
        if (static_cast<std::size_t>(count) > maximumSize - bytes.size()) throw SystemError("file too large: " + path, EFBIG);
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

void requireRemovableAt(int parentFd, const std::string& name, const std::string& path) {
    struct stat status {};
    if (::fstatat(parentFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return;
        throwSystemError("stat " + path);
    }
    if (!S_ISDIR(status.st_mode)) return;
    if (::faccessat(parentFd, name.c_str(), R_OK | W_OK | X_OK, AT_EACCESS) != 0) throwSystemError("remove " + path);
    FileDescriptor child(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!child.valid()) throwSystemError("open " + path);
    for (const auto& entry : directoryEntriesAt(child.get(), path)) requireRemovableAt(child.get(), entry, path + "/" + entry);
}

std::pair<std::string, std::string> splitParent(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Runs the walk on the path's entry in its opened parent folder; a missing parent is
// a missing path.
template <typename Walk>
void walkFromParent(const std::string& path, Walk walk) {
    auto [folder, name] = splitParent(path);
    FileDescriptor parent(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid()) {
        if (errno == ENOENT) return;
        throwSystemError("open " + folder);
    }
    walk(parent.get(), name, path);
}

void giveEntriesToOwner(int directoryFd, const std::string& path, uid_t owner, gid_t group) {
    for (const auto& name : directoryEntriesAt(directoryFd, path)) {
        std::string entryPath = path + "/" + name;
        struct stat status {};
        if (::fstatat(directoryFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) throwSystemError("stat " + entryPath);
        if (!S_ISLNK(status.st_mode) && (status.st_mode & (S_ISUID | S_ISGID)) != 0) {
            throw SystemError("set-ID file " + entryPath, EPERM);
        }
        if (::fchownat(directoryFd, name.c_str(), owner, group, AT_SYMLINK_NOFOLLOW) != 0) throwSystemError("chown " + entryPath);
        if (S_ISDIR(status.st_mode)) {
            FileDescriptor child(::openat(directoryFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!child.valid()) throwSystemError("open " + entryPath);
            giveEntriesToOwner(child.get(), entryPath, owner, group);
        }
    }
}

}  // namespace

std::vector<DirectoryEntry> directoryEntriesWithTypesAt(int directoryFd, const std::string& path) {
    int listFd = ::dup(directoryFd);
    if (listFd < 0) throwSystemError("dup " + path);
    std::unique_ptr<DIR, DirectoryCloser> directory(::fdopendir(listFd));
    if (!directory) {
        ::close(listFd);
        throwSystemError("opendir " + path);
    }
    ::rewinddir(directory.get());
    std::vector<DirectoryEntry> entries;
    while (dirent* entry = ::readdir(directory.get())) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") entries.push_back({std::move(name), entry->d_type});
    }
    return entries;
}

std::vector<std::string> directoryEntriesAt(int directoryFd, const std::string& path) {
    std::vector<std::string> names;
    for (auto& entry : directoryEntriesWithTypesAt(directoryFd, path)) names.push_back(std::move(entry.name));
    return names;
}

void writeAll(int fd, std::string_view bytes, const std::string& path) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR) continue;
            throwSystemError("write " + path);
        }
        written += static_cast<std::size_t>(count);
    }
}

void exchangePaths(const std::string& first, const std::string& second) {
    if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) != 0) {
        throwSystemError("exchange " + first + " and " + second);
    }
}

void renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        throwSystemError("rename " + from + " to " + to);
    }
}

void giveTreeToOwner(const std::string& path, uid_t owner, gid_t group) {
    FileDescriptor top(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!top.valid()) throwSystemError("open " + path);
    struct stat status {};
    if (::fstat(top.get(), &status) != 0) throwSystemError("stat " + path);
    if ((status.st_mode & (S_ISUID | S_ISGID)) != 0) throw SystemError("set-ID folder " + path, EPERM);
    if (::fchown(top.get(), owner, group) != 0) throwSystemError("chown " + path);
    giveEntriesToOwner(top.get(), path, owner, group);
}

std::vector<std::string> directoryEntries(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) throwSystemError("open " + path);
    return directoryEntriesAt(fd.get(), path);
}

std::string readWholeFile(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) throwSystemError("open " + path);
    return readToEnd(fd.get(), std::numeric_limits<std::size_t>::max(), path);
}

void writeFileAtomically(const std::string& path, const std::string& bytes, mode_t mode) {
    auto [folder, name] = splitParent(path);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) throwSystemError("create " + temporary);
    try {
        writeAll(fd.get(), bytes, temporary);
        if (::fchmod(fd.get(), mode) != 0) throwSystemError("chmod " + temporary);
        if (::fsync(fd.get()) != 0) throwSystemError("fsync " + temporary);
        fd.reset();
        if (::rename(temporary.c_str(), path.c_str()) != 0) throwSystemError("rename " + temporary);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

void createDirectories(const std::string& path, mode_t mode) {
    if (path.empty()) return;
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        std::string prefix = path.substr(0, position);
        if (prefix.empty() || ::mkdir(prefix.c_str(), mode) == 0 || errno == EEXIST) continue;
        throwSystemError("mkdir " + prefix);
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) throwSystemError("stat " + path);
    if (!S_ISDIR(status.st_mode)) throw SystemError("mkdir " + path, ENOTDIR);
}

void removeRecursively(const std::string& path) { walkFromParent(path, removeEntryAt); }

void requireRemovable(const std::string& path) {
    walkFromParent(path, [](int parentFd, const std::string& name, const std::string& entryPath) {
        if (::faccessat(parentFd, ".", W_OK | X_OK, AT_EACCESS) != 0) throwSystemError("remove " + entryPath);
        requireRemovableAt(parentFd, name, entryPath);
    });
}

void removeRecursivelyAt(int parentFd, const std::string& name, const std::string& path) { removeEntryAt(parentFd, name, path); }

std::optional<std::string> readRegularFileAt(int directoryFd, const std::string& name, std::size_t maximumSize,
                                             const std::string& path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes.
    FileDescriptor fd(::openat(directoryFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT) return std::nullopt;
        throwSystemError("open " + path);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) throwSystemError("stat " + path);
    if (!S_ISREG(status.st_mode)) throw SystemError("not a regular file: " + path, EINVAL);
    if (static_cast<std::uint64_t>(status.st_size) > maximumSize) throw SystemError("file too large: " + path, EFBIG);
    // The size may grow after fstat; the cap holds whatever the file does.
    return readToEnd(fd.get(), maximumSize, path, static_cast<std::size_t>(status.st_size));
}

void installRootOwnedFile(const std::string& folder, const std::string& name, std::string_view bytes, mode_t mode) {
    std::string temporary = folder + "/." + name + "." + makeUUIDString() + ".tmp";
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) throwSystemError("create " + temporary);
    try {
        writeAll(fd.get(), bytes, temporary);
        if (::fchown(fd.get(), 0, 0) != 0) throwSystemError("chown " + temporary);
        if (::fchmod(fd.get(), mode) != 0) throwSystemError("chmod " + temporary);
        if (::fsync(fd.get()) != 0) throwSystemError("fsync " + temporary);
        if (::rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0) throwSystemError("rename " + temporary);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

}  // namespace platform
