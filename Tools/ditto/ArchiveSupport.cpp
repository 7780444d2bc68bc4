#include "ArchiveSupport.hpp"

namespace ditto {

void fail(archive* handle, const std::string& context) {
    const char* message = archive_error_string(handle);
    throw DittoError(context + ": " + (message ? message : "unknown error"));
}

Reader openDiskReader(const std::string& path) {
    Reader reader(archive_read_disk_new());
    if (!reader) throw DittoError("out of memory");
    archive_read_disk_set_symlink_physical(reader.get());
    // File flags (chattr) are not part of a bundle, and holes are not worth a search
    // per file.
    archive_read_disk_set_behavior(reader.get(), ARCHIVE_READDISK_NO_FFLAGS | ARCHIVE_READDISK_NO_SPARSE);
    if (archive_read_disk_open(reader.get(), path.c_str()) != ARCHIVE_OK) fail(reader.get(), path);
    return reader;
}

bool nextDiskEntry(archive* reader, archive_entry* entry, const std::string& root) {
    int result = archive_read_next_header2(reader, entry);
    if (result == ARCHIVE_EOF) return false;
    if (result != ARCHIVE_OK) fail(reader, root);
    refuseSpecialFile(entry, archive_entry_pathname(entry));
    if (archive_entry_filetype(entry) == AE_IFDIR) archive_read_disk_descend(reader);
    return true;
}

void copyData(archive* reader, archive* writer, const std::string& entryName) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    while (true) {
        int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF) return;
        if (status != ARCHIVE_OK) fail(reader, entryName);
        if (archive_write_data_block(writer, block, size, offset) != ARCHIVE_OK) fail(writer, entryName);
    }
}

void refuseSpecialFile(archive_entry* entry, const std::string& entryName) {
    auto type = archive_entry_filetype(entry);
    if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
        throw DittoError(entryName + ": special files are not copied");
    }
}

}  // namespace ditto
