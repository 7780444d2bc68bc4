#include "StagingDirectory.hpp"

#include "InstalledApp.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace autoupdatekit {
namespace {

// The entry's status, a link not followed; nothing when it does not exist.
std::optional<struct stat> statusOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) return status;
    if (errno != ENOENT) platform::throwSystemError("stat " + path);
    return std::nullopt;
}

}  // namespace

bool StagingDirectory::isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

void StagingDirectory::checkOnlyOursIsThere() const {
    std::size_t regularFiles = 0;
    for (const auto& name : platform::directoryEntries(path_)) {
        std::string entry = path_ + "/" + name;
        auto status = statusOf(entry);
        if (!status) continue;
        bool partial = name.rfind(partialDownloadPrefix, 0) == 0 && S_ISREG(status->st_mode);
        bool extracted = name == extractedFolderName && S_ISDIR(status->st_mode);
        bool archive = S_ISREG(status->st_mode) && !partial && ++regularFiles == 1;
        if (!partial && !extracted && !archive) {
            throw platform::SystemError("staging directory " + path_ + " holds " + name + ", which the updater did not put there",
                                        ENOTEMPTY);
        }
    }
}

void StagingDirectory::reset() const {
    if (auto status = statusOf(path_)) {
        if (S_ISLNK(status->st_mode)) {
            if (::unlink(path_.c_str()) != 0) platform::throwSystemError("remove " + path_);
        } else if (S_ISDIR(status->st_mode)) {
            checkOnlyOursIsThere();
            platform::removeRecursively(path_);
        } else {
            throw platform::SystemError("staging directory " + path_ + " is not a folder", ENOTDIR);
        }
    }
    platform::createDirectories(path_);
}

std::optional<std::string> StagingDirectory::keptDownload(const std::string& fileName, std::int64_t signedSize) const {
    auto folder = statusOf(path_);
    std::string download = path_ + "/" + fileName;
    auto status = folder && S_ISDIR(folder->st_mode) ? statusOf(download) : std::nullopt;
    if (signedSize <= 0 || !status || !S_ISREG(status->st_mode) || status->st_size != signedSize) return std::nullopt;
    checkOnlyOursIsThere();
    for (const auto& name : platform::directoryEntries(path_)) {
        if (name != fileName) platform::removeRecursively(path_ + "/" + name);
    }
    return download;
}

void StagingDirectory::emptyUnlessNewerThan(const AppVersion& running) const {
    auto folder = statusOf(path_);
    if (!folder || !S_ISDIR(folder->st_mode)) return;
    if (statusOf(extractedFolder())) {
        for (const auto& name : platform::directoryEntries(extractedFolder())) {
            std::optional<platform::Bundle> staged;
            try {
                staged = platform::Bundle::open(platform::FileURL(extractedFolder() + "/" + name));
            } catch (const std::exception&) {
                continue;
            }
            if (!staged) continue;
            if (AppVersion::compare(bundleVersion(*staged), running) > 0) return;
        }
    }
    checkOnlyOursIsThere();
    platform::removeRecursively(path_);
}

}  // namespace autoupdatekit
