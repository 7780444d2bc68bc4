// The archive steps of the check: download into the staging directory, unpack with
// ditto, find and validate the app.

#include "AutoUpdateKit/AutoUpdateManager.hpp"

#include "AutoUpdateKit/InstallationPlan.hpp"
#include "ToolRun.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"
#include "Platform/ToolPaths.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace autoupdatekit {
namespace {

using platform::FileURL;

constexpr const char* extractedFolderName = "Extracted";
constexpr const char* partialDownloadPrefix = ".autoupdate-download-";

// Limits a correct server never meets: no more bytes than the signed size, and no
// longer than that size takes at 16 KiB/s, never under 10 minutes. An unsigned size
// (0 or less) sets no byte limit and leaves the 10 minutes.
constexpr std::int64_t slowestBytesPerSecond = 16 * 1024;
constexpr long shortestTransferSeconds = 10 * 60;

// A transfer that breaks part-way is resumed, up to this many attempts in all, within
// the one whole-transfer limit.
constexpr int archiveDownloadAttempts = 5;

platform::HTTPRequest archiveRequest(const UpdateManifestPayload& payload, const CheckCancellation& cancellation) {
    platform::HTTPRequest request{payload.archiveURL};
    request.downloadAttempts = archiveDownloadAttempts;
    request.cancelled = [cancellation] { return cancellation.isCancelled(); };
    std::int64_t signedSize = std::max<std::int64_t>(payload.archiveSize, 0);
    request.transferTimeoutSeconds = std::max<long>(shortestTransferSeconds, signedSize / slowestBytesPerSecond + 1);
    return request;
}

std::optional<std::uint64_t> archiveSizeLimit(const UpdateManifestPayload& payload) {
    if (payload.archiveSize <= 0) return std::nullopt;
    return static_cast<std::uint64_t>(payload.archiveSize);
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// The staging directory belongs to the update client alone; a reset deletes only what
// the client itself put there (the extracted folder, one archive, a partial download),
// so a staging path pointed at a folder of the user's own deletes nothing.
void checkOnlyOursIsThere(const std::string& path) {
    std::size_t regularFiles = 0;
    for (const auto& name : platform::directoryEntries(path)) {
        struct stat status {};
        std::string entry = path + "/" + name;
        if (::lstat(entry.c_str(), &status) != 0) platform::throwSystemError("stat " + entry);
        bool partial = name.rfind(partialDownloadPrefix, 0) == 0 && S_ISREG(status.st_mode);
        bool extracted = name == extractedFolderName && S_ISDIR(status.st_mode);
        bool archive = S_ISREG(status.st_mode) && !partial && ++regularFiles == 1;
        if (!partial && !extracted && !archive) {
            throw platform::SystemError("staging directory " + path + " holds " + name + ", which the updater did not put there",
                                        ENOTEMPTY);
        }
    }
}

std::string runDitto(const std::vector<std::string>& arguments) {
    auto result = runTool(platform::paths::ditto(), arguments);
    if (!result.succeeded()) throw AutoUpdateError::extractionFailed(result.output);
    return result.output;
}

// The entry's file type (S_IFDIR, S_IFREG, ...), a link not followed; 0 for none.
mode_t fileTypeAt(const FileURL& url) {
    struct stat status {};
    return ::lstat(url.path().c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

}  // namespace

void AutoUpdateManager::resetStagingDirectory() const {
    const std::string& path = configuration_.stagingDirectory.path();
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        if (S_ISLNK(status.st_mode)) {
            if (::unlink(path.c_str()) != 0) platform::throwSystemError("remove " + path);
        } else if (S_ISDIR(status.st_mode)) {
            checkOnlyOursIsThere(path);
            platform::removeRecursively(path);
        } else {
            throw platform::SystemError("staging directory " + path + " is not a folder", ENOTDIR);
        }
    } else if (errno != ENOENT) {
        platform::throwSystemError("stat " + path);
    }
    platform::createDirectories(path);
}

FileURL AutoUpdateManager::downloadArchive(const SignedUpdateManifest& manifest, const AutoUpdateCheckOptions& options) const {
    const auto& payload = manifest.payload;
    // Checked before anything is removed: the name must stay inside the staging directory.
    if (!isPlainName(payload.archiveFileName) || payload.archiveFileName == extractedFolderName) {
        throw platform::SystemError("invalid archive file name \"" + payload.archiveFileName + "\"", EINVAL);
    }
    resetStagingDirectory();
    FileURL destination = configuration_.stagingDirectory.appending(payload.archiveFileName);
    std::string partial = configuration_.stagingDirectory.path() + "/" + partialDownloadPrefix + "XXXXXX";
    platform::FileDescriptor fd(::mkostemp(partial.data(), O_CLOEXEC));
    if (!fd.valid()) platform::throwSystemError("create " + partial);
    try {
        platform::HTTPResponse response =
            session_->download(archiveRequest(payload, options.cancellation), fd.get(), options.progress, archiveSizeLimit(payload));
        fd.reset();
        if (response.isHTTP && (response.statusCode < 200 || response.statusCode > 299)) {
            throw AutoUpdateError::archiveDownloadFailed(response.statusCode, payload.archiveURL);
        }
        platform::removeRecursively(destination.path());
        if (::rename(partial.c_str(), destination.path().c_str()) != 0) platform::throwSystemError("move " + partial);
    } catch (const platform::TransferCancelled&) {
        ::unlink(partial.c_str());
        throw AutoUpdateError::cancelled();
    } catch (...) {
        ::unlink(partial.c_str());
        throw;
    }
    return destination;
}

FileURL AutoUpdateManager::extractArchive(const FileURL& archive, const std::string& expectedAppName) const {
    FileURL extracted = configuration_.stagingDirectory.appending(extractedFolderName);
    platform::removeRecursively(extracted.path());
    platform::createDirectories(extracted.path());
    std::string output = runDitto({"-x", "-k", archive.path(), extracted.path()});

    // The expected name counts only as one plain name, and never through a link. A
    // regular file of that name is still the app the archive offers, and fails
    // validation as a bundle without an identifier.
    if (isPlainName(expectedAppName)) {
        FileURL expected = extracted.appending(expectedAppName + ".app");
        mode_t type = fileTypeAt(expected);
        if (type == S_IFDIR || type == S_IFREG) return expected;
    }
    std::vector<std::string> names = platform::directoryEntries(extracted.path());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        if (name.front() == '.' || name.size() <= 4 || name.compare(name.size() - 4, 4, ".app") != 0) continue;
        FileURL candidate = extracted.appending(name);
        if (fileTypeAt(candidate) == S_IFDIR) return candidate;
    }
    if (!output.empty()) throw AutoUpdateError::extractionFailed(output);
    throw AutoUpdateError::extractedAppMissing();
}

void AutoUpdateManager::validateExtractedApp(const FileURL& app, const SignedUpdateManifest& manifest) const {
    std::optional<std::string> identifier;
    try {
        auto bundle = platform::Bundle::open(app);
        if (bundle) identifier = bundle->bundleIdentifier();
    } catch (const platform::PropertyListError&) {
    }
    if (identifier != manifest.payload.bundleIdentifier) {
        throw AutoUpdateError::bundleIdentifierMismatch(manifest.payload.bundleIdentifier, identifier);
    }
    InstallationPlanner::verifySignature(app);
}

}  // namespace autoupdatekit
