#pragma once
// Shared pieces of ditto's copy, extraction and archive creation on libarchive.

#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <stdexcept>
#include <string>

namespace ditto {

// A failure that ditto reports as "ditto: <message>" with exit status 1.
class DittoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ReaderDeleter {
    void operator()(archive* handle) const { archive_read_free(handle); }
};
struct WriterDeleter {
    void operator()(archive* handle) const { archive_write_free(handle); }
};
struct EntryDeleter {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};
using Reader = std::unique_ptr<archive, ReaderDeleter>;
using Writer = std::unique_ptr<archive, WriterDeleter>;
using Entry = std::unique_ptr<archive_entry, EntryDeleter>;

// Throws DittoError "<context>: <libarchive's message>".
[[noreturn]] void fail(archive* handle, const std::string& context);

// Reads on-disk trees without following symbolic links.
Reader openDiskReader(const std::string& path);

// Reads the next entry of an on-disk tree into entry and descends into folders; special
// files are refused. Returns false at the end of the tree.
bool nextDiskEntry(archive* reader, archive_entry* entry, const std::string& root);

// Copies the current entry's data from reader to writer.
void copyData(archive* reader, archive* writer, const std::string& entryName);

// Special files (FIFOs, devices, sockets) are refused rather than opened.
void refuseSpecialFile(archive_entry* entry, const std::string& entryName);

}  // namespace ditto
