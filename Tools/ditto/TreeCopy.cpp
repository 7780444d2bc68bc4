#include "TreeCopy.hpp"

#include "ArchiveSupport.hpp"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ditto {
namespace {

struct ResolverDeleter {
    void operator()(archive_entry_linkresolver* resolver) const { archive_entry_linkresolver_free(resolver); }
};

int copyFlags() {
    int flags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_XATTR | ARCHIVE_EXTRACT_ACL |
                ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS;
    if (::geteuid() == 0) flags |= ARCHIVE_EXTRACT_OWNER;
    return flags;
}

void writeEntry(archive* reader, archive* writer, archive_entry* entry, const std::string& name) {
    if (archive_write_header(writer, entry) != ARCHIVE_OK) fail(writer, name);
    bool hasData = archive_entry_filetype(entry) == AE_IFREG && archive_entry_size(entry) > 0;
    if (hasData && reader != nullptr) copyData(reader, writer, name);
    if (archive_write_finish_entry(writer) != ARCHIVE_OK) fail(writer, name);
}

}  // namespace

void copyTree(const std::string& source, const std::string& destination) {
    struct stat status {};
    if (::lstat(source.c_str(), &status) != 0) throw DittoError(source + ": " + std::strerror(errno));
    if (::lstat(destination.c_str(), &status) == 0) throw DittoError(destination + ": File exists");

    Reader reader = openDiskReader(source);
    Writer writer(archive_write_disk_new());
    archive_write_disk_set_options(writer.get(), copyFlags());
    std::unique_ptr<archive_entry_linkresolver, ResolverDeleter> resolver(archive_entry_linkresolver_new());
    // The tar strategy hands the first name of a hard-linked file with its data and
    // every later name as a link to it, which is what the disk writer needs.
    archive_entry_linkresolver_set_strategy(resolver.get(), ARCHIVE_FORMAT_TAR_USTAR);

    Entry entry(archive_entry_new());
    while (nextDiskEntry(reader.get(), entry.get(), source)) {
        std::string path = archive_entry_pathname(entry.get());
        archive_entry_set_pathname(entry.get(), (destination + path.substr(source.size())).c_str());

        archive_entry* current = entry.get();
        archive_entry* deferred = nullptr;
        archive_entry_linkify(resolver.get(), &current, &deferred);
        if (current != nullptr) writeEntry(reader.get(), writer.get(), current, path);
        if (deferred != nullptr) {
            writeEntry(nullptr, writer.get(), deferred, path);
            archive_entry_free(deferred);
        }
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK) fail(writer.get(), destination);
}

}  // namespace ditto
