// The copy works on descriptors throughout: every entry is opened or made relative to
// its folder's descriptor and never through a symbolic link (O_NOFOLLOW and the *at
// calls), so no path is looked up twice and nothing swapped in during the copy can
// redirect a write. File data moves inside the kernel.

#include "TreeCopy.hpp"

#include "ArchiveSupport.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/ReadBuffer.hpp"
#include "Platform/SystemError.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace ditto {
namespace {

using platform::FileDescriptor;

[[noreturn]] void failWithErrno(const std::string& path) { throw DittoError(path + ": " + std::strerror(errno)); }

bool unsupported(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

void copyExtendedAttributes(int from, int to, const std::string& path) {
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0 && unsupported(errno)) return;
    if (size < 0) failWithErrno(path);
    std::string names(static_cast<std::size_t>(size), '\0');
    size = ::flistxattr(from, names.data(), names.size());
    if (size < 0) failWithErrno(path);
    names.resize(static_cast<std::size_t>(size));
    for (std::size_t start = 0; start < names.size(); start = names.find('\0', start) + 1) {
        const char* name = names.c_str() + start;
        ssize_t length = ::fgetxattr(from, name, nullptr, 0);
        if (length < 0) failWithErrno(path + " (" + name + ")");
        std::string value(static_cast<std::size_t>(length), '\0');
        length = ::fgetxattr(from, name, value.data(), value.size());
        if (length < 0) failWithErrno(path + " (" + name + ")");
        if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(length), 0) != 0 && !unsupported(errno)) {
            failWithErrno(path + " (" + name + ")");
        }
    }
}

void copyData(int from, int to, const std::string& path, platform::ReadBuffer& buffer) {
    while (true) {
        ssize_t moved = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (moved == 0) return;
        if (moved > 0) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && !unsupported(errno)) failWithErrno(path);
        break;  // not between these two file systems: copy through a buffer
    }
    try {
        platform::readInBlocks(from, buffer, path, [&](const char* bytes, std::size_t size) {
            platform::writeAll(to, std::string_view(bytes, size), path);
        });
    } catch (const platform::SystemError& error) {
        throw DittoError(error.what());
    }
}

// An entry: its name in an open folder (or a path, with AT_FDCWD), and its path for
// messages and for later names of the same file.
struct Place {
    int folder;
    std::string name;
    std::string path;

    Place child(int opened, const std::string& entry) const { return {opened, entry, path + "/" + entry}; }
};

class TreeCopier {
public:
    void copyEntry(const Place& from, const Place& to);

private:
    // Owner first (a change of owner clears set-ID bits), then mode, then extended
    // attributes (an access-control list sets the mode's group bits as the source has
    // them), then times, which every other change would move.
    void copyMetadata(int from, int to, const struct stat& status, const std::string& path) const {
        if (asRoot_ && ::fchown(to, status.st_uid, status.st_gid) != 0) failWithErrno(path);
        // Set-ID bits only come along with the owner they belong to.
        mode_t mode = status.st_mode & (asRoot_ ? 07777 : 01777);
        if (::fchmod(to, mode) != 0) failWithErrno(path);
        copyExtendedAttributes(from, to, path);
        timespec times[2] = {status.st_atim, status.st_mtim};
        if (::futimens(to, times) != 0) failWithErrno(path);
    }

    void copyFolder(const Place& from, const Place& to, const struct stat& status);
    void copyFile(const Place& from, const Place& to, const struct stat& status);
    void copyLink(const Place& from, const Place& to, const struct stat& status) const;

    bool asRoot_ = ::geteuid() == 0;
    // One for the whole copy: a fresh buffer per file costs a page fault per page.
    platform::ReadBuffer buffer_{1 << 20};
    // The copy's path of the first name of each file with several names.
    std::map<std::pair<dev_t, ino_t>, std::string> firstNames_;
};

void TreeCopier::copyEntry(const Place& from, const Place& to) {
    struct stat status {};
    if (::fstatat(from.folder, from.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) failWithErrno(from.path);
    if (S_ISDIR(status.st_mode)) return copyFolder(from, to, status);
    if (S_ISREG(status.st_mode)) return copyFile(from, to, status);
    if (S_ISLNK(status.st_mode)) return copyLink(from, to, status);
    throw DittoError(from.path + ": special files are not copied");
}

void TreeCopier::copyFolder(const Place& from, const Place& to, const struct stat& status) {
    FileDescriptor source(::openat(from.folder, from.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!source.valid()) failWithErrno(from.path);
    // Private until it is filled; its own mode comes last.
    if (::mkdirat(to.folder, to.name.c_str(), 0700) != 0) failWithErrno(to.path);
    FileDescriptor copy(::openat(to.folder, to.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!copy.valid()) failWithErrno(to.path);
    for (const auto& entry : platform::directoryEntriesAt(source.get(), from.path)) copyEntry(from.child(source.get(), entry), to.child(copy.get(), entry));
    copyMetadata(source.get(), copy.get(), status, to.path);
}

void TreeCopier::copyFile(const Place& from, const Place& to, const struct stat& status) {
    if (status.st_nlink > 1) {
        auto [first, isFirst] = firstNames_.try_emplace({status.st_dev, status.st_ino}, to.path);
        if (!isFirst) {
            if (::linkat(AT_FDCWD, first->second.c_str(), to.folder, to.name.c_str(), 0) != 0) failWithErrno(to.path);
            return;
        }
    }
    FileDescriptor source(::openat(from.folder, from.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!source.valid()) failWithErrno(from.path);
    FileDescriptor copy(::openat(to.folder, to.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!copy.valid()) failWithErrno(to.path);
    copyData(source.get(), copy.get(), to.path, buffer_);
    copyMetadata(source.get(), copy.get(), status, to.path);
}

void TreeCopier::copyLink(const Place& from, const Place& to, const struct stat& status) const {
    std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
    ssize_t length = ::readlinkat(from.folder, from.name.c_str(), target.data(), target.size());
    if (length < 0) failWithErrno(from.path);
    target.resize(static_cast<std::size_t>(length));
    if (::symlinkat(target.c_str(), to.folder, to.name.c_str()) != 0) failWithErrno(to.path);
    if (asRoot_ && ::fchownat(to.folder, to.name.c_str(), status.st_uid, status.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
        failWithErrno(to.path);
    }
    timespec times[2] = {status.st_atim, status.st_mtim};
    if (::utimensat(to.folder, to.name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) failWithErrno(to.path);
}

}  // namespace

void copyTree(const std::string& source, const std::string& destination) {
    struct stat status {};
    if (::lstat(source.c_str(), &status) != 0) failWithErrno(source);
    if (::lstat(destination.c_str(), &status) == 0) throw DittoError(destination + ": File exists");
    // Folders missing on the way to the destination are made, as the copy always has.
    platform::createDirectories(platform::FileURL(destination).deletingLastPathComponent().path());
    TreeCopier().copyEntry({AT_FDCWD, source, source}, {AT_FDCWD, destination, destination});
}

}  // namespace ditto
