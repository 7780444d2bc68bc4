#include "ZipMaker.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace testsupport {

void writeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(), &archive_write_free);
    archive_write_set_format_zip(writer.get());
    if (archive_write_open_filename(writer.get(), path.c_str()) != ARCHIVE_OK) throw std::runtime_error(path);
    for (const auto& item : entries) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), &archive_entry_free);
        archive_entry_set_pathname(entry.get(), item.name.c_str());
        archive_entry_set_mtime(entry.get(), 1700000000, 0);
        switch (item.kind) {
        case ZipEntry::Kind::file:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_size(entry.get(), static_cast<la_int64_t>(item.content.size()));
            break;
        case ZipEntry::Kind::directory:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            break;
        case ZipEntry::Kind::symbolicLink:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_symlink(entry.get(), item.content.c_str());
            break;
        }
        archive_entry_set_perm(entry.get(), item.mode);
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK) throw std::runtime_error(item.name);
        if (item.kind == ZipEntry::Kind::file && !item.content.empty()) {
            archive_write_data(writer.get(), item.content.data(), item.content.size());
        }
    }
    archive_write_close(writer.get());
}

}  // namespace testsupport
