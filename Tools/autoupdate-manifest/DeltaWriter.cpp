#include "DeltaWriter.hpp"

#include "BundleTree.hpp"
#include "DeltaCompression.hpp"
#include "DeltaFormat.hpp"
#include "DifferenceWriter.hpp"
#include "Platform/Bundle.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"

#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace deltawriter {
namespace {

using autoupdatekit::BundleTree::Entry;
using autoupdatekit::BundleTree::EntryType;
using autoupdatekit::DeltaFormat::Operation;

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Native code is where difference patches beat zstd's matching, which finds shifted
// addresses no match; on text and data the two come out alike, so only executables pay
// for the suffix array.
bool isExecutable(std::string_view bytes) { return bytes.substr(0, 4) == "\x7f" "ELF"; }

// The version and build the old bundle's Info.plist names, for the delta's header.
std::pair<std::string, std::string> versionOf(const std::string& bundle) {
    auto opened = platform::Bundle::open(platform::FileURL(bundle));
    if (!opened) throw std::runtime_error(bundle + " is not a bundle folder");
    const auto* version = platform::PropertyList::stringValue(opened->infoDictionary(), "CFBundleShortVersionString");
    const auto* build = platform::PropertyList::stringValue(opened->infoDictionary(), "CFBundleVersion");
    return {version ? *version : "", build ? *build : ""};
}

class Writer {
public:
    Writer(const std::string& oldBundle, const std::string& newBundle, int fd, int level)
        : oldBundle_(oldBundle), newBundle_(newBundle), fd_(fd), level_(level) {}

    Summary run() {
        auto oldEntries = autoupdatekit::BundleTree::scan(oldBundle_);
        auto newEntries = autoupdatekit::BundleTree::scan(newBundle_);
        std::map<std::string, const Entry*> newPaths;
        for (const auto& entry : newEntries) newPaths[entry.path] = &entry;
        for (const auto& entry : oldEntries) {
            if (entry.type != EntryType::file) continue;
            oldPaths_[entry.path] = &entry;
            byDigest_.emplace(entry.digest, &entry);  // the first path in order wins
            byName_.emplace(baseName(entry.path), &entry);
        }
        std::vector<const Entry*> removed;
        for (const auto& entry : oldEntries) {
            if (!newPaths.contains(entry.path)) removed.push_back(&entry);
        }

        auto [version, build] = versionOf(oldBundle_);
        autoupdatekit::DeltaFormat::Header header{autoupdatekit::BundleTree::digest(oldEntries),
                                                  autoupdatekit::BundleTree::digest(newEntries), version, build,
                                                  newEntries.size() + removed.size()};
        summary_.fromTreeSHA256 = hex(header.fromTree);
        summary_.toTreeSHA256 = hex(header.toTree);
        encoder_.header(header);
        flush();
        for (const auto& entry : newEntries) writeEntry(entry);
        for (const Entry* entry : removed) {
            encoder_.u8(static_cast<std::uint8_t>(Operation::remove));
            encoder_.text(entry->path);
            ++summary_.removals;
        }
        encoder_.u8(static_cast<std::uint8_t>(Operation::end));
        flush();
        return summary_;
    }

private:
    static std::string hex(const platform::Sha256Digest& digest) { return platform::hexLowercase(digest.data(), digest.size()); }

    void flush() {
        std::string bytes = encoder_.take();
        platform::writeAll(fd_, bytes, "delta");
        summary_.bytes += bytes.size();
    }

    void fileHeader(Operation operation, const Entry& entry) {
        encoder_.u8(static_cast<std::uint8_t>(operation));
        encoder_.text(entry.path);
        encoder_.u32(entry.mode);
        encoder_.u64(entry.size);
        encoder_.digest(entry.digest);
    }

    const Entry* referenceFor(const Entry& entry) const {
        if (auto same = oldPaths_.find(entry.path); same != oldPaths_.end()) return same->second;
        auto named = byName_.find(baseName(entry.path));
        return named == byName_.end() ? nullptr : named->second;
    }

    void writeFile(const Entry& entry) {
        const Entry* reference = referenceFor(entry);
        if (reference && reference->path == entry.path && reference->digest == entry.digest) {
            encoder_.u8(static_cast<std::uint8_t>(Operation::same));
            encoder_.text(entry.path);
            encoder_.u32(entry.mode);
            ++summary_.copies;
            return;
        }
        const Entry* source = reference && reference->digest == entry.digest ? reference : nullptr;
        if (auto copy = byDigest_.find(entry.digest); !source && copy != byDigest_.end()) source = copy->second;
        if (source) {
            fileHeader(Operation::copy, entry);
            encoder_.text(source->path);
            ++summary_.copies;
            return;
        }
        std::string content = platform::readWholeFile(newBundle_ + "/" + entry.path);
        std::string whole = autoupdatekit::DeltaCompression::compress(content, {}, level_, content.size());
        std::string smallest = whole;
        Operation operation = Operation::whole;
        std::string old = reference ? platform::readWholeFile(oldBundle_ + "/" + reference->path) : "";
        auto consider = [&](Operation candidate, std::string frame) {
            if (frame.size() < smallest.size()) smallest = std::move(frame), operation = candidate;
        };
        if (!old.empty()) {
            consider(Operation::patch, autoupdatekit::DeltaCompression::compress(content, old, level_, content.size()));
        }
        if (isExecutable(old) && isExecutable(content)) {
            consider(Operation::difference,
                     autoupdatekit::DeltaCompression::compress(differencewriter::write(old, content), {}, level_, content.size()));
        }
        fileHeader(operation, entry);
        if (operation != Operation::whole) encoder_.text(reference->path);
        encoder_.data(smallest);
        ++(operation == Operation::whole ? summary_.wholeFiles : operation == Operation::patch ? summary_.patches : summary_.differences);
    }

    void writeEntry(const Entry& entry) {
        switch (entry.type) {
        case EntryType::folder:
            encoder_.u8(static_cast<std::uint8_t>(Operation::folder));
            encoder_.text(entry.path);
            encoder_.u32(entry.mode);
            break;
        case EntryType::link:
            encoder_.u8(static_cast<std::uint8_t>(Operation::link));
            encoder_.text(entry.path);
            encoder_.text(entry.linkTarget);
            break;
        case EntryType::file: writeFile(entry); break;
        }
        flush();
    }

    std::string oldBundle_;
    std::string newBundle_;
    int fd_;
    int level_;
    autoupdatekit::DeltaFormat::Encoder encoder_;
    Summary summary_;
    std::map<std::string, const Entry*> oldPaths_;
    std::map<platform::Sha256Digest, const Entry*> byDigest_;
    std::multimap<std::string, const Entry*> byName_;
};

}  // namespace

Summary write(const std::string& oldBundle, const std::string& newBundle, const std::string& output, int level) {
    platform::FileDescriptor fd(::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) platform::throwSystemError("create " + output);
    try {
        return Writer(oldBundle, newBundle, fd.get(), level).run();
    } catch (...) {
        ::unlink(output.c_str());
        throw;
    }
}

}  // namespace deltawriter
