#pragma once
// Root's copy of a staged app, made only from the folder the requester opened and never
// larger than what the request's check saw. The check takes an inventory of the staged
// tree (every entry's place, type and size); the copy must meet exactly that inventory,
// so a file that grew, shrank or was added since, a sparse giant among them, fails the
// copy at once, before a byte of it is written. Every entry must be the requester's own
// plain folder, file or link: root reads nothing below that the requester could not
// have put there. The copy also keeps a free-space reserve on the destination's file
// system, so no request can fill the disk for everyone else.

#include "StagedBundle.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <vector>

namespace privilegedhelper {

struct StagedInventory {
    struct Entry {
        std::uint32_t depth;
        unsigned char type;  // DT_DIR, DT_REG or DT_LNK
        std::uint64_t size;
        std::size_t nameHash;
        bool operator==(const Entry&) const = default;
    };
    std::vector<Entry> entries;  // in walk order: each folder's names sorted
    std::uint64_t totalBytes = 0;
    mode_t topMode = 0755;       // the staged folder's own mode
};

namespace StagedCopy {

// Bounds on a staged tree, so that neither its walk nor its inventory can bloat root.
inline constexpr std::uint32_t maximumDepth = 512;
inline constexpr std::size_t maximumEntries = 250000;
// Free space the copy leaves on the destination's file system: 5% of it, at least 512 MiB.
inline constexpr std::uint64_t minimumFreeSpaceReserve = std::uint64_t{512} << 20;
std::uint64_t freeSpaceReserve(const struct statvfs& fileSystem);

// Walks the staged folder. Throws HelperError.signatureInvalid for an entry that is not
// the requester's own, a special file, a set-ID entry or one writable by group or
// others, and for a tree over the bounds above.
StagedInventory takeInventory(const StagedBundle& staged);

// Copies the staged folder to name inside targetFolder as a folder of mode 0700 (its
// own mode is applied by the caller once the copy is verified); every entry inside gets
// its staged mode, root as owner and no extended attribute. Throws on any difference
// from the inventory and when the free space would fall below the reserve; what was
// copied stays for the caller to remove. targetPath names the copy in messages.
void copy(const StagedBundle& staged, const StagedInventory& inventory, int targetFolder, const std::string& name,
          const std::string& targetPath);

}  // namespace StagedCopy
}  // namespace privilegedhelper
