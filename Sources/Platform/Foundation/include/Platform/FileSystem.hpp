#pragma once
// Small file operations the rest of the system builds on.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

std::string readWholeFile(const std::string& path);

// Reads the regular file name inside the open folder, for files another user may have
// planted: no link is followed, a FIFO or device is never waited on, and no more than
// maximumSize bytes are read. Nothing when the file does not exist; SystemError for a
// link (ELOOP), anything but a regular file (EINVAL) or a larger file (EFBIG).
std::optional<std::string> readRegularFileAt(int directoryFd, const std::string& name, std::size_t maximumSize,
                                             const std::string& path);

// Names of the entries in a folder, without "." and "..", in no set order.
std::vector<std::string> directoryEntries(const std::string& path);
// The same for a folder already open as a descriptor; path is for messages.
std::vector<std::string> directoryEntriesAt(int directoryFd, const std::string& path);

struct DirectoryEntry {
    std::string name;
    unsigned char type;  // DT_REG, DT_DIR, DT_LNK, ... or DT_UNKNOWN where the file system gives none
};
// The entries with the types the listing gives, so a walk need not stat each one.
std::vector<DirectoryEntry> directoryEntriesWithTypesAt(int directoryFd, const std::string& path);

// Writes all of bytes to the descriptor, resuming after short writes and interruptions.
void writeAll(int fd, std::string_view bytes, const std::string& path);

// Writes a temporary file in the same folder, fsyncs it and renames it over the target,
// so a crash leaves either the old or the new file, never a torn one.
void writeFileAtomically(const std::string& path, const std::string& bytes, mode_t mode = 0644);

// Creates the folder and any missing parents.
void createDirectories(const std::string& path, mode_t mode = 0755);

// Removes a file or a whole tree without following any symbolic link: the walk goes by
// directory descriptor, so a folder swapped for a link mid-walk is not followed.
// A missing path is not an error.
void removeRecursively(const std::string& path);
// The same for the entry name inside the open folder parentFd; path is for messages.
void removeRecursivelyAt(int parentFd, const std::string& name, const std::string& path);

// Fails, changing nothing, when the caller's rights would stop removeRecursively part
// way: a folder in the tree (the top and its parent included) that it cannot list,
// enter and write gives SystemError EACCES naming the entry.
void requireRemovable(const std::string& path);

// Swaps two paths in one atomic step (same file system).
void exchangePaths(const std::string& first, const std::string& second);

// Renames, failing with EEXIST rather than replacing what is at the target.
void renameWithoutReplacing(const std::string& from, const std::string& to);

// Gives every entry of the tree (the top included) to the owner and group without
// following any link, walking by directory descriptor. Refuses, before changing
// anything further, a set-user-ID or set-group-ID file: SystemError with EPERM.
void giveTreeToOwner(const std::string& path, uid_t owner, gid_t group);

// Creates name in folder as root's own file: never through a link (O_EXCL | O_NOFOLLOW
// on a fresh random name), owner 0:0 and the mode set on the open descriptor, synced,
// then renamed over the target.
void installRootOwnedFile(const std::string& folder, const std::string& name, std::string_view bytes, mode_t mode);

}  // namespace platform
