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

// A plain array, so the removal at exit still has the name.
char scratchFolder[] = "/tmp/autoupdatekit-zip-fuzz-XXXXXX";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (::mkdtemp(scratchFolder) == nullptr) std::abort();
    std::atexit([] { platform::removeRecursively(scratchFolder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string folder = scratchFolder;
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
