#include "DeltaApplier.hpp"

#include "DeltaCompression.hpp"
#include "DeltaFormat.hpp"
#include "DifferencePatch.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/ReadBuffer.hpp"
#include "Platform/SystemError.hpp"

#include <fcntl.h>
#include <map>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace autoupdatekit::DeltaApplier {
namespace {

using DeltaFormat::Operation;

std::string hex(const platform::Sha256Digest& digest) { return platform::hexLowercase(digest.data(), digest.size()); }

platform::FileDescriptor openAt(int folderFd, const std::string& name, int flags, const std::string& path) {
    platform::FileDescriptor fd(::openat(folderFd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) platform::throwSystemError("open " + path);
    return fd;
}

// The folder holding path inside root, reached one real folder at a time: a link on
// the way fails the open, so nothing is ever written through one.
std::pair<platform::FileDescriptor, std::string> parentOf(int rootFd, const std::string& path) {
    platform::FileDescriptor folder(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    if (!folder.valid()) platform::throwSystemError("duplicate folder descriptor");
    std::size_t start = 0;
    for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', start)) {
        folder = openAt(folder.get(), path.substr(start, slash - start), O_RDONLY | O_DIRECTORY, path.substr(0, slash));
        start = slash + 1;
    }
    return {std::move(folder), path.substr(start)};
}

class MappedFile {
public:
    MappedFile(int fd, std::size_t size) : size_(size) {
        if (size_ == 0) return;
        address_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (address_ == MAP_FAILED) platform::throwSystemError("map old file");
    }
    ~MappedFile() {
        if (size_ != 0) ::munmap(address_, size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    std::string_view bytes() const { return size_ == 0 ? std::string_view() : std::string_view(static_cast<const char*>(address_), size_); }

private:
    void* address_ = nullptr;
    std::size_t size_;
};

struct FileRecord {
    std::string path;
    std::uint32_t mode = 0;
    std::uint64_t size = 0;
    platform::Sha256Digest digest{};
};

class Application {
public:
    Application(const DeltaUpdate& delta, const std::string& installedBundle, int stagingFd, const Limits& limits)
        : delta_(delta), installed_(installedBundle), stagingFd_(stagingFd), limits_(limits) {}

    void run(int deltaFd, std::uint64_t deltaSize) {
        DeltaFormat::Decoder decoder(deltaFd, deltaSize);
        auto header = decoder.header(limits_.tree.pathLength);
        if (hex(header.fromTree) != delta_.fromTreeSHA256 || hex(header.toTree) != delta_.toTreeSHA256) {
            fail("its tree digests are not the ones the manifest names");
        }
        if (header.recordCount > 2 * limits_.tree.entries) fail("it has more records than two bundles may hold");
        listInstalledTree();
        std::uint64_t records = 0;
        for (auto operation = Operation{decoder.u8()}; operation != Operation::end; operation = Operation{decoder.u8()}) {
            if (++records > header.recordCount) fail("it has more records than its header says");
            apply(operation, decoder);
        }
        if (records != header.recordCount) fail("it has fewer records than its header says");
        if (!decoder.atEnd()) fail("it has bytes after its end record");
        checkInstalledTree();
        checkResult();
    }

private:
    [[noreturn]] void fail(const std::string& reason) const { throw DeltaError("The delta cannot be applied: " + reason + "."); }

    // The installed files are hashed as they are copied or patched from, each read once;
    // the installed tree's digest is checked when all are known, before the result's.
    void listInstalledTree() {
        for (auto& entry : BundleTree::scan(installed_, limits_.tree, BundleTree::Contents::sizesOnly)) {
            std::string path = entry.path;
            if (entry.type != BundleTree::EntryType::file) hashedOld_.insert(path);
            oldEntries_.emplace(std::move(path), std::move(entry));
        }
    }

    // An installed file read twice must read the same both times.
    void noteOldDigest(const std::string& path, const platform::Sha256Digest& digest) {
        auto& entry = oldEntries_.at(path);
        if (!hashedOld_.insert(path).second && entry.digest != digest) fail("the installed \"" + path + "\" changed while it was read");
        entry.digest = digest;
    }

    void checkInstalledTree() {
        std::vector<BundleTree::Entry> entries;
        for (auto& [path, entry] : oldEntries_) {
            if (!hashedOld_.contains(path)) {
                std::uint64_t size = 0;
                auto source = oldFile(path, size);
                noteOldDigest(path, platform::sha256OfDescriptor(source.get(), path));
            }
            entries.push_back(entry);
        }
        std::string found = hex(BundleTree::digest(entries));
        if (found != delta_.fromTreeSHA256) {
            throw DeltaError("The installed bundle " + installed_ + " is not the one the delta was made from (its tree digest is " +
                             found + ", the delta's " + delta_.fromTreeSHA256 + ").");
        }
    }

    std::string checkedPath(std::string path, bool removal) {
        if (!BundleTree::isSafePath(path, limits_.tree)) fail("it names the unsafe path \"" + path + "\"");
        std::string& previous = removal ? lastRemoval_ : lastPath_;
        if (!previous.empty() && path <= previous) fail("its paths are not in ascending order at \"" + path + "\"");
        if (!removal && !lastRemoval_.empty()) fail("it builds \"" + path + "\" after its removals");
        if (!removal && ++builtEntries_ > limits_.tree.entries) fail("it builds more than " + std::to_string(limits_.tree.entries) + " entries");
        previous = path;
        return path;
    }

    std::uint32_t checkedMode(std::uint32_t mode, const std::string& path) const {
        if ((mode & ~std::uint32_t{0777}) != 0) fail("it gives \"" + path + "\" a mode beyond the permission bits");
        return mode;
    }

    FileRecord fileRecord(DeltaFormat::Decoder& decoder) {
        FileRecord record;
        record.path = checkedPath(decoder.text(limits_.tree.pathLength), false);
        record.mode = checkedMode(decoder.u32(), record.path);
        record.size = decoder.u64();
        record.digest = decoder.digest();
        return counted(record);
    }

    FileRecord counted(const FileRecord& record) {
        if (record.size > limits_.tree.fileSize) fail("it makes \"" + record.path + "\" larger than the file size limit");
        totalSize_ += record.size;
        if (totalSize_ > limits_.totalSize) fail("its files together exceed the size limit");
        return record;
    }

    // An old file named by a record, opened inside the installed bundle without links.
    platform::FileDescriptor oldFile(const std::string& path, std::uint64_t& size) {
        auto found = oldEntries_.find(path);
        if (!BundleTree::isSafePath(path, limits_.tree) || found == oldEntries_.end() || found->second.type != BundleTree::EntryType::file) {
            fail("it names \"" + path + "\", which is no file of the installed bundle");
        }
        platform::FileDescriptor root(::open(installed_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!root.valid()) platform::throwSystemError("open " + installed_);
        auto [folder, name] = parentOf(root.get(), path);
        auto fd = openAt(folder.get(), name, O_RDONLY, installed_ + "/" + path);
        struct stat status {};
        if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) fail("the installed \"" + path + "\" is no longer a file");
        size = static_cast<std::uint64_t>(status.st_size);
        return fd;
    }

    // Writes one file as produce makes it, refusing more bytes than declared, checks its
    // size, gives it its mode and returns its digest.
    platform::Sha256Digest writeFile(const FileRecord& record,
                                     const std::function<void(const std::function<void(const char*, std::size_t)>&)>& produce) {
        auto [folder, name] = parentOf(stagingFd_, record.path);
        platform::FileDescriptor fd(::openat(folder.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid()) platform::throwSystemError("create " + record.path);
        platform::Sha256 hash;
        std::uint64_t written = 0;
        produce([&](const char* bytes, std::size_t size) {
            written += size;
            if (written > record.size) fail("\"" + record.path + "\" comes out larger than its declared " + std::to_string(record.size) + " bytes");
            hash.update(bytes, size);
            platform::writeAll(fd.get(), std::string_view(bytes, size), record.path);
        });
        if (written != record.size) fail("\"" + record.path + "\" comes out smaller than its declared size");
        if (::fchmod(fd.get(), record.mode) != 0) platform::throwSystemError("set the mode of " + record.path);
        return hash.finish();
    }

    void built(const FileRecord& record, const platform::Sha256Digest& digest) {
        if (digest != record.digest) fail("\"" + record.path + "\" does not match its digest");
        built_.push_back({record.path, BundleTree::EntryType::file, record.mode, digest, record.size, {}});
    }

    void decodeFrame(DeltaFormat::Decoder& decoder, std::string_view reference, const FileRecord& record) {
        built(record, writeFile(record, [&](const auto& sink) {
                  DeltaCompression::FrameDecoder frame(reference, record.size, sink);
                  decoder.data([&](const char* bytes, std::size_t size) { frame.feed(bytes, size); });
                  frame.finish();
              }));
    }

    void apply(Operation operation, DeltaFormat::Decoder& decoder) {
        switch (operation) {
        case Operation::folder: {
            std::string path = checkedPath(decoder.text(limits_.tree.pathLength), false);
            std::uint32_t mode = checkedMode(decoder.u32(), path);
            auto [folder, name] = parentOf(stagingFd_, path);
            if (::mkdirat(folder.get(), name.c_str(), 0700) != 0) platform::throwSystemError("create folder " + path);
            folderModes_[path] = mode;
            built_.push_back({path, BundleTree::EntryType::folder, mode, {}, 0, {}});
            return;
        }
        case Operation::link: {
            std::string path = checkedPath(decoder.text(limits_.tree.pathLength), false);
            std::string target = decoder.text(limits_.tree.pathLength);
            if (!BundleTree::isConfinedLinkTarget(path, target)) fail("it makes \"" + path + "\" a link that leaves the bundle");
            auto [folder, name] = parentOf(stagingFd_, path);
            if (::symlinkat(target.c_str(), folder.get(), name.c_str()) != 0) platform::throwSystemError("create link " + path);
            built_.push_back({path, BundleTree::EntryType::link, 0, platform::sha256(target), 0, target});
            return;
        }
        case Operation::copy:
        case Operation::same: {
            FileRecord record;
            std::string sourcePath;
            if (operation == Operation::copy) {
                record = fileRecord(decoder);
                sourcePath = decoder.text(limits_.tree.pathLength);
            } else {
                sourcePath = record.path = checkedPath(decoder.text(limits_.tree.pathLength), false);
                record.mode = checkedMode(decoder.u32(), record.path);
            }
            std::uint64_t size = 0;
            auto source = oldFile(sourcePath, size);
            if (operation == Operation::same) record.size = counted({record.path, record.mode, oldEntries_.at(sourcePath).size, {}}).size;
            platform::ReadBuffer buffer(1024 * 1024);
            auto digest = writeFile(record, [&](const auto& sink) { platform::readInBlocks(source.get(), buffer, record.path, sink); });
            noteOldDigest(sourcePath, digest);
            if (operation == Operation::same) record.digest = digest;
            built(record, digest);
            return;
        }
        case Operation::patch:
        case Operation::difference: {
            FileRecord record = fileRecord(decoder);
            std::uint64_t size = 0;
            std::string sourcePath = decoder.text(limits_.tree.pathLength);
            auto source = oldFile(sourcePath, size);
            MappedFile old(source.get(), static_cast<std::size_t>(size));
            platform::Sha256 oldHash;
            oldHash.update(old.bytes().data(), old.bytes().size());
            noteOldDigest(sourcePath, oldHash.finish());
            if (operation == Operation::patch) {
                decodeFrame(decoder, old.bytes(), record);
                return;
            }
            built(record, writeFile(record, [&](const auto& sink) {
                      DifferencePatch::Decoder difference(old.bytes(), sink);
                      DeltaCompression::FrameDecoder frame({}, record.size, [&](const char* bytes, std::size_t length) { difference.feed(bytes, length); });
                      decoder.data([&](const char* bytes, std::size_t length) { frame.feed(bytes, length); });
                      frame.finish();
                      difference.finish();
                  }));
            return;
        }
        case Operation::whole: decodeFrame(decoder, {}, fileRecord(decoder)); return;
        case Operation::remove: {
            std::string path = checkedPath(decoder.text(limits_.tree.pathLength), true);
            if (!oldEntries_.contains(path)) fail("it removes \"" + path + "\", which the installed bundle lacks");
            return;
        }
        default: fail("it holds an unknown record type " + std::to_string(static_cast<int>(operation)));
        }
    }

    // Every file was hashed as it was written: the staging folder must hold exactly what
    // was built, and what was built must be the new tree. The folders get their modes
    // last, so that a read-only one could still be filled.
    void checkResult() {
        auto entries = BundleTree::scan(stagingFd_, "the staging folder", limits_.tree, BundleTree::Contents::sizesOnly);
        auto expected = built_;
        for (auto& entry : expected) {
            if (entry.type == BundleTree::EntryType::file) entry.digest = {};
            if (entry.type == BundleTree::EntryType::folder) entry.mode = 0700;
        }
        if (entries != expected) fail("the staging folder holds something other than what it built");
        if (std::string found = hex(BundleTree::digest(built_)); found != delta_.toTreeSHA256) {
            fail("the rebuilt bundle's tree digest is " + found + ", not " + delta_.toTreeSHA256);
        }
        for (auto folder = folderModes_.rbegin(); folder != folderModes_.rend(); ++folder) {
            auto [parent, name] = parentOf(stagingFd_, folder->first);
            auto fd = openAt(parent.get(), name, O_RDONLY | O_DIRECTORY, folder->first);
            if (::fchmod(fd.get(), folder->second) != 0) platform::throwSystemError("set the mode of " + folder->first);
        }
    }

    const DeltaUpdate& delta_;
    std::string installed_;
    int stagingFd_;
    const Limits& limits_;
    std::map<std::string, BundleTree::Entry> oldEntries_;
    std::set<std::string> hashedOld_;
    std::vector<BundleTree::Entry> built_;
    std::map<std::string, std::uint32_t> folderModes_;
    std::string lastPath_;
    std::string lastRemoval_;
    std::uint64_t builtEntries_ = 0;
    std::uint64_t totalSize_ = 0;
};

// Opens the delta once and checks its size and SHA-256 against the manifest's; the same
// descriptor is then read from the start, so what was checked is what is applied.
platform::FileDescriptor openCheckedDelta(const DeltaUpdate& delta, const std::string& deltaFile) {
    platform::FileDescriptor fd(::open(deltaFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) platform::throwSystemError("open " + deltaFile);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) platform::throwSystemError("stat " + deltaFile);
    if (!S_ISREG(status.st_mode) || status.st_size != delta.size) {
        throw DeltaError("The delta " + deltaFile + " is not a file of the " + std::to_string(delta.size) + " bytes the manifest names.");
    }
    if (hex(platform::sha256OfDescriptor(fd.get(), deltaFile)) != delta.sha256) throw DeltaError("The delta " + deltaFile + " does not match the manifest's SHA-256.");
    if (::lseek(fd.get(), 0, SEEK_SET) != 0) platform::throwSystemError("rewind " + deltaFile);
    return fd;
}

void removeContents(int folderFd, const std::string& folder) {
    for (const auto& name : platform::directoryEntriesAt(folderFd, folder)) platform::removeRecursivelyAt(folderFd, name, folder + "/" + name);
}

}  // namespace

void apply(const DeltaUpdate& delta, const std::string& deltaFile, const std::string& installedBundle,
           const std::string& stagingFolder, const Limits& limits) {
    platform::FileDescriptor staging(::open(stagingFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!staging.valid()) platform::throwSystemError("open " + stagingFolder);
    if (!platform::directoryEntriesAt(staging.get(), stagingFolder).empty()) {
        throw DeltaError("The staging folder " + stagingFolder + " is not empty.");
    }
    try {
        auto deltaFd = openCheckedDelta(delta, deltaFile);
        Application(delta, installedBundle, staging.get(), limits).run(deltaFd.get(), static_cast<std::uint64_t>(delta.size));
    } catch (const std::exception& error) {
        removeContents(staging.get(), stagingFolder);
        if (dynamic_cast<const DeltaError*>(&error)) throw;
        throw DeltaError(std::string("The delta cannot be applied: ") + error.what());
    }
}

}  // namespace autoupdatekit::DeltaApplier
