// Feeds arbitrary bytes to zip extraction as an archive file: it must unpack or fail
// with its own error, write nothing outside the target folder, and leave the target
// empty when it fails.

#include "ZipArchive.hpp"
#include "ArchiveSupport.hpp"

#include "Platform/FileSystem.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string& scratchFolder() {
    // Never destroyed, so the removal at exit still has its name.
    static const std::string* folder = [] {
        auto* pattern = new std::string("/tmp/autoupdatekit-zip-fuzz-XXXXXX");
        if (::mkdtemp(pattern->data()) == nullptr) std::abort();
        std::atexit([] { platform::removeRecursively(scratchFolder()); });
        return pattern;
    }();
    return *folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& folder = scratchFolder();
    std::string archive = folder + "/input.zip";
    std::string target = folder + "/target";
    platform::writeFileAtomically(archive, std::string(reinterpret_cast<const char*>(data), size));
    platform::removeRecursively(target);
    if (::mkdir(target.c_str(), 0700) != 0) std::abort();
    bool extracted = true;
    try {
        ditto::extractZip(archive, target);
    } catch (const ditto::DittoError&) {
        extracted = false;
    }
    auto beside = platform::directoryEntries(folder);
    if (beside.size() != 2) std::abort();  // only input.zip and target
    if (!extracted && !platform::directoryEntries(target).empty()) std::abort();
    return 0;
}
