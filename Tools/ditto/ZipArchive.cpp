#include "ZipArchive.hpp"

#include "ArchiveSupport.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/FileURL.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ditto {
namespace {

constexpr std::size_t readBlockSize = 1024 * 1024;

Reader openZip(const std::string& archivePath) {
    Reader reader(archive_read_new());
    if (!reader) throw DittoError("out of memory");
    // The seekable reader trusts the central directory, as unzip does, so a truncated
    // archive fails before anything is written.
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_filename(reader.get(), archivePath.c_str(), readBlockSize) != ARCHIVE_OK) {
        fail(reader.get(), archivePath);
    }
    return reader;
}

// Checks every entry before anything is written.
void checkEntries(const std::string& archivePath) {
    Reader reader = openZip(archivePath);
    std::set<std::string> symbolicLinks;
    archive_entry* entry = nullptr;
    while (true) {
        int result = archive_read_next_header(reader.get(), &entry);
        if (result == ARCHIVE_EOF) return;
        if (result != ARCHIVE_OK && result != ARCHIVE_WARN) fail(reader.get(), archivePath);
        const char* rawName = archive_entry_pathname(entry);
        std::string name = rawName ? rawName : "";
        auto parts = platform::pathComponents(name);
        if (parts.empty()) throw DittoError(archivePath + ": entry with an empty name");
        if (name.front() == '/') throw DittoError(archivePath + ": entry \"" + name + "\" has an absolute path");
        std::string prefix;
        for (std::size_t index = 0; index < parts.size(); ++index) {
            if (parts[index] == "..") {
                throw DittoError(archivePath + ": entry \"" + name + "\" climbs out of the target with \"..\"");
            }
            prefix += (index ? "/" : "") + parts[index];
            if (index + 1 < parts.size() && symbolicLinks.count(prefix)) {
                throw DittoError(archivePath + ": entry \"" + name + "\" lies through the symbolic link \"" + prefix + "\"");
            }
        }
        refuseSpecialFile(entry, archivePath + ": entry \"" + name + "\"");
        if (archive_entry_hardlink(entry) != nullptr) {
            throw DittoError(archivePath + ": entry \"" + name + "\" is a hard link");
        }
        if (archive_entry_filetype(entry) == AE_IFLNK) symbolicLinks.insert(prefix);
    }
}

// Unpacks with names relative to the folder, which becomes the working directory, so
// the disk writer's own refusal of absolute paths stays in force.
void unpackInto(const std::string& archivePath, const std::string& folder) {
    Reader reader = openZip(archivePath);
    if (::chdir(folder.c_str()) != 0) throw DittoError(folder + ": " + std::strerror(errno));
    Writer writer(archive_write_disk_new());
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM |
                                                     ARCHIVE_EXTRACT_XATTR | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                     ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                     ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
    archive_entry* entry = nullptr;
    while (true) {
        int result = archive_read_next_header(reader.get(), &entry);
        if (result == ARCHIVE_EOF) break;
        if (result != ARCHIVE_OK && result != ARCHIVE_WARN) fail(reader.get(), archivePath);
        std::string name = archive_entry_pathname(entry);
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 01777);
        std::string context = archivePath + ": entry \"" + name + "\"";
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK) fail(writer.get(), context);
        if (archive_entry_size(entry) > 0) copyData(reader.get(), writer.get(), context);
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK) fail(writer.get(), context);
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK) fail(writer.get(), archivePath);
}

// Moves what was unpacked into the target, replacing entries of the same name.
void moveIntoPlace(const std::string& unpacked, const std::string& target) {
    for (const auto& name : platform::directoryEntries(unpacked)) {
        std::string from = unpacked + "/" + name;
        std::string to = target + "/" + name;
        platform::removeRecursively(to);
        if (::rename(from.c_str(), to.c_str()) != 0) throw DittoError(to + ": " + std::strerror(errno));
    }
}

// Archive writers take data in order; holes of sparse files are written as zeros.
void appendData(archive* reader, archive* writer, const std::string& entryName) {
    static const std::vector<char> zeros(readBlockSize);
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    la_int64_t written = 0;
    while (true) {
        int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF) return;
        if (status != ARCHIVE_OK) fail(reader, entryName);
        while (written < offset) {
            auto gap = static_cast<std::size_t>(std::min<la_int64_t>(offset - written, readBlockSize));
            if (archive_write_data(writer, zeros.data(), gap) < 0) fail(writer, entryName);
            written += static_cast<la_int64_t>(gap);
        }
        if (size > 0 && archive_write_data(writer, block, size) < 0) fail(writer, entryName);
        written += static_cast<la_int64_t>(size);
    }
}

}  // namespace

void extractZip(const std::string& archiveArgument, const std::string& targetArgument) {
    std::string archivePath = platform::FileURL(archiveArgument).path();
    std::string targetFolder = platform::FileURL(targetArgument).path();
    struct stat status {};
    if (::stat(targetFolder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw DittoError(targetFolder + ": not an existing folder");
    }
    checkEntries(archivePath);
    std::string unpacked = targetFolder + "/.ditto-XXXXXX";
    if (::mkdtemp(unpacked.data()) == nullptr) throw DittoError(targetFolder + ": " + std::strerror(errno));
    try {
        unpackInto(archivePath, unpacked);
        moveIntoPlace(unpacked, targetFolder);
    } catch (...) {
        platform::removeRecursively(unpacked);
        throw;
    }
    platform::removeRecursively(unpacked);
}

void createZip(const std::string& source, const std::string& archivePath, bool keepParent) {
    std::string parentName = source.substr(source.rfind('/') + 1);
    std::string temporary = archivePath + ".partial-XXXXXX";
    platform::FileDescriptor fd(::mkstemp(temporary.data()));
    if (!fd.valid()) throw DittoError(archivePath + ": " + std::strerror(errno));
    try {
        Writer writer(archive_write_new());
        archive_write_set_format_zip(writer.get());
        if (archive_write_open_fd(writer.get(), fd.get()) != ARCHIVE_OK) fail(writer.get(), archivePath);
        Reader reader = openDiskReader(source);
        Entry entry(archive_entry_new());
        while (nextDiskEntry(reader.get(), entry.get(), source)) {
            std::string path = archive_entry_pathname(entry.get());
            std::string relative = path.substr(source.size());
            std::string name = keepParent ? parentName + relative : relative.substr(relative.empty() ? 0 : 1);
            if (name.empty()) continue;
            // Every name of a hard-linked file is stored with its own data.
            archive_entry_set_pathname(entry.get(), name.c_str());
            archive_entry_set_nlink(entry.get(), 1);
            if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK) fail(writer.get(), path);
            if (archive_entry_filetype(entry.get()) == AE_IFREG) appendData(reader.get(), writer.get(), path);
        }
        if (archive_write_close(writer.get()) != ARCHIVE_OK) fail(writer.get(), archivePath);
        if (::fchmod(fd.get(), 0644) != 0 || ::rename(temporary.c_str(), archivePath.c_str()) != 0) {
            throw DittoError(archivePath + ": " + std::strerror(errno));
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

}  // namespace ditto
