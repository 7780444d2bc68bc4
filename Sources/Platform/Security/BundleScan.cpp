// Root runs this scan on bundles that users staged, so nothing in it trusts a path:
// every folder is opened relative to its parent's descriptor with O_NOFOLLOW |
// O_DIRECTORY, and every file relative to its folder's descriptor with O_NOFOLLOW |
// O_NONBLOCK and hashed only once fstat says it is a regular file. A link or a FIFO
// swapped in during the scan therefore fails it; it is never followed or waited on.
//
// One walk feeds one hashing worker per core. Each worker keeps one read buffer and
// one digest context for all its files, so the hot path allocates only the digest's
// text.

#include "Platform/BundleScan.hpp"

#include "Platform/Crypto.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/ReadBuffer.hpp"
#include "Platform/SystemError.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <climits>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform::codesigning {
namespace {

// Big enough that a read costs little next to hashing it, small enough to stay in cache.
constexpr std::size_t readSize = 256 * 1024;
// Folders the walk has left stay open until their files are hashed; past this many
// the walk waits, so a bundle of many folders never runs out of descriptors.
constexpr std::size_t maximumDrainingFolders = 64;
// The walk recurses per folder level. No real bundle nests folders this deep, while a
// staged tree nested tens of thousands deep would otherwise end the process on its stack.
constexpr int maximumFolderDepth = 512;

bool hasSuffix(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

unsigned modeBits(const struct stat& status) { return static_cast<unsigned>(status.st_mode & 07777); }

// The folder's entries sorted by name, each with its type as the listing gives it, so
// the walk needs no stat of its own; a file system that gives no types is asked.
std::vector<DirectoryEntry> entriesOf(int folderFd, const std::string& path) {
    std::vector<DirectoryEntry> entries = directoryEntriesWithTypesAt(folderFd, path);
    for (auto& entry : entries) {
        if (entry.type != DT_UNKNOWN) continue;
        struct stat status {};
        if (::fstatat(folderFd, entry.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) throwSystemError("lstat " + path + "/" + entry.name);
        entry.type = S_ISREG(status.st_mode) ? DT_REG : S_ISDIR(status.st_mode) ? DT_DIR : S_ISLNK(status.st_mode) ? DT_LNK : DT_FIFO;
    }
    std::sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return entries;
}

struct Folder {
    FileDescriptor fd;
    std::size_t pending = 0;  // files queued and not hashed yet (under the scan's lock)
};

struct HashJob {
    Folder* folder;
    SealedEntry* entry;  // the file's name is the last component of its path
    std::size_t nameStart;
};

class Scan {
public:
    explicit Scan(const std::string& bundlePath)
        : root_(bundlePath), sealFile_(sealPath(bundlePath).substr(bundlePath.size() + 1)),
          sealFolder_(sealFolder(bundlePath)) {}

    BundleContents run();

private:
    void walk(Folder& folder, const std::string& relative, int depth);
    void queue(std::vector<HashJob>& jobs);
    void leave(std::unique_ptr<Folder> folder);
    void hashFiles();
    void hashQueuedFiles();
    void hash(const HashJob& job, Sha256& digest, ReadBuffer& buffer) const;
    void fail(std::exception_ptr error);

    std::string absolute(const std::string& relative) const { return relative.empty() ? root_ : root_ + "/" + relative; }

    const std::string root_;
    const std::string sealFile_;
    const std::string sealFolder_;
    // Only the walk adds to these; a deque keeps the entries the workers fill in place.
    std::deque<SealedEntry> entries_;
    BundleContents contents_;

    std::mutex lock_;
    std::condition_variable workReady_;
    std::condition_variable folderDrained_;
    std::deque<HashJob> jobs_;
    std::deque<std::unique_ptr<Folder>> draining_;
    bool walked_ = false;
    std::exception_ptr failure_;
};

BundleContents Scan::run() {
    unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> threads;
    for (unsigned index = 0; index < workers; ++index) threads.emplace_back([this] { hashFiles(); });
    try {
        auto top = std::make_unique<Folder>();
        top->fd = FileDescriptor(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!top->fd.valid()) throwSystemError("open " + root_);
        walk(*top, "", 0);
        leave(std::move(top));
    } catch (...) {
        fail(std::current_exception());
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        walked_ = true;
    }
    workReady_.notify_all();
    for (auto& thread : threads) thread.join();
    if (failure_) std::rethrow_exception(failure_);
    contents_.entries.assign(std::make_move_iterator(entries_.begin()), std::make_move_iterator(entries_.end()));
    return std::move(contents_);
}

// The seal file is left out; its folder is walked (so anything added there is caught)
// but not listed, since it does not exist yet when a bundle is first sealed.
void Scan::walk(Folder& folder, const std::string& relative, int depth) {
    if (depth > maximumFolderDepth) {
        throw SystemError("folders nested more than " + std::to_string(maximumFolderDepth) + " deep in " + root_, ENAMETOOLONG);
    }
    std::vector<DirectoryEntry> names = entriesOf(folder.fd.get(), absolute(relative));
    std::vector<HashJob> jobs;
    for (const auto& [name, type] : names) {
        std::string path = relative.empty() ? name : relative + "/" + name;
        if (path == sealFile_) continue;
        if (type == DT_REG) {
            // The worker reads the mode from the descriptor it hashes.
            entries_.push_back({path, SealedEntry::Type::file, 0, {}});
            jobs.push_back({&folder, &entries_.back(), path.size() - name.size()});
        } else if (type == DT_LNK) {
            std::string target(PATH_MAX, '\0');  // on the heap: this frame recurses
            ssize_t length = ::readlinkat(folder.fd.get(), name.c_str(), target.data(), target.size());
            if (length < 0) throwSystemError("readlink " + absolute(path));
            target.resize(static_cast<std::size_t>(length));
            entries_.push_back({path, SealedEntry::Type::symbolicLink, 0, std::move(target)});
        } else if (type == DT_DIR) {
            queue(jobs);  // before the subfolder's files, so the workers start on them at once
            auto child = std::make_unique<Folder>();
            child->fd = FileDescriptor(::openat(folder.fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat status {};
            if (!child->fd.valid() || ::fstat(child->fd.get(), &status) != 0) throwSystemError("open " + absolute(path));
            if (path != sealFolder_) entries_.push_back({path, SealedEntry::Type::directory, modeBits(status), {}});
            if (hasSuffix(name, ".app") || hasSuffix(name, ".framework")) contents_.nestedBundles.push_back(path);
            walk(*child, path, depth + 1);
            leave(std::move(child));
        } else {
            contents_.unsupported.push_back(path);
        }
    }
    queue(jobs);
}

void Scan::queue(std::vector<HashJob>& jobs) {
    if (jobs.empty()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (failure_) std::rethrow_exception(failure_);
        jobs.front().folder->pending += jobs.size();
        jobs_.insert(jobs_.end(), jobs.begin(), jobs.end());
    }
    jobs.clear();
    workReady_.notify_all();
}

// Keeps a walked folder open for its queued files; closes the oldest ones once their
// files are done.
void Scan::leave(std::unique_ptr<Folder> folder) {
    std::unique_lock<std::mutex> guard(lock_);
    draining_.push_back(std::move(folder));
    while (!draining_.empty() && draining_.front()->pending == 0) draining_.pop_front();
    while (draining_.size() > maximumDrainingFolders) {
        folderDrained_.wait(guard, [this] { return failure_ || draining_.front()->pending == 0; });
        if (failure_) std::rethrow_exception(failure_);
        draining_.pop_front();
    }
}

void Scan::hashFiles() {
    try {
        hashQueuedFiles();
    } catch (...) {
        fail(std::current_exception());
    }
}

void Scan::hashQueuedFiles() {
    Sha256 digest;
    ReadBuffer buffer(readSize);
    std::unique_lock<std::mutex> guard(lock_);
    while (true) {
        workReady_.wait(guard, [this] { return failure_ || walked_ || !jobs_.empty(); });
        if (failure_ || jobs_.empty()) return;
        HashJob job = jobs_.front();
        jobs_.pop_front();
        guard.unlock();
        hash(job, digest, buffer);
        guard.lock();
        if (--job.folder->pending == 0) folderDrained_.notify_one();
    }
}

void Scan::hash(const HashJob& job, Sha256& digest, ReadBuffer& buffer) const {
    const std::string& path = job.entry->path;
    FileDescriptor fd(::openat(job.folder->fd.get(), path.c_str() + job.nameStart, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) throwSystemError("open " + absolute(path));
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) throwSystemError("stat " + absolute(path));
    if (!S_ISREG(status.st_mode)) throw SystemError("not a regular file: " + absolute(path), EINVAL);
    job.entry->mode = modeBits(status);
    readInBlocks(fd.get(), buffer, absolute(path), [&](const char* bytes, std::size_t size) { digest.update(bytes, size); });
    Sha256Digest value = digest.finish();
    job.entry->content = hexLowercase(value.data(), value.size());
}

void Scan::fail(std::exception_ptr error) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!failure_) failure_ = std::move(error);
    }
    workReady_.notify_all();
    folderDrained_.notify_all();
}

}  // namespace

BundleContents scanBundle(const std::string& bundlePath) { return Scan(bundlePath).run(); }

}  // namespace platform::codesigning
