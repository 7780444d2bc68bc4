// The archive steps of the check: download into the staging directory (or take the
// one an earlier check left there), check its digest, unpack with ditto, find and
// validate the app.

#include "AutoUpdateKit/InstallationPlan.hpp"
#include "FileHash.hpp"
#include "ProgressThrottle.hpp"
#include "ToolRun.hpp"
#include "TransportFailure.hpp"
#include "UpdateCheck.hpp"
#include "WebAddress.hpp"

#include "Platform/Bundle.hpp"
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
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace autoupdatekit {
namespace {

using platform::FileURL;

// Limits a correct server never meets: no more bytes than the signed size, and no
// longer than that size takes at 16 KiB/s, never under 10 minutes. An unsigned size
// (0 or less) sets no byte limit and leaves the 10 minutes.
constexpr std::int64_t slowestBytesPerSecond = 16 * 1024;
constexpr long shortestTransferSeconds = 10 * 60;

// A transfer that breaks part-way is resumed, up to this many attempts in all, within
// the one whole-transfer limit.
constexpr int archiveDownloadAttempts = 5;

platform::HTTPRequest downloadRequest(const URL& url, std::int64_t size, const CheckCancellation& cancellation) {
    platform::HTTPRequest request{webURL(url)};
    request.downloadAttempts = archiveDownloadAttempts;
    request.cancelled = [cancellation] { return cancellation.isCancelled(); };
    std::int64_t signedSize = std::max<std::int64_t>(size, 0);
    request.transferTimeoutSeconds = std::max<long>(shortestTransferSeconds, signedSize / slowestBytesPerSecond + 1);
    return request;
}

std::optional<std::uint64_t> sizeLimit(std::int64_t signedSize) {
    if (signedSize <= 0) return std::nullopt;
    return static_cast<std::uint64_t>(signedSize);
}

std::string runDitto(const std::vector<std::string>& arguments) {
    auto result = runTool(platform::paths::ditto(), arguments);
    if (!result.succeeded()) throw AutoUpdateError::extractionFailed(result.output);
    return result.output;
}

// The entry's file type (S_IFDIR, S_IFREG, ...), a link not followed; 0 for none.
mode_t fileTypeAt(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

// The file's SHA-256 against the signed one, in either case of hexadecimal digits.
std::optional<std::string> digestMismatch(const UpdateManifestPayload& payload, const std::string& archive) {
    std::string digest = FileHash::hexDigest(FileURL(archive));
    if (payload.archiveSHA256.size() == digest.size() &&
        ::strncasecmp(payload.archiveSHA256.c_str(), digest.c_str(), digest.size()) == 0) {
        return std::nullopt;
    }
    return digest;
}

}  // namespace

std::optional<std::string> AutoUpdateManager::Check::keptArchive(const UpdateManifestPayload& payload,
                                                                 const AutoUpdateCheckOptions& options) const {
    // Checked before anything is removed: the name must stay inside the staging directory.
    if (!StagingDirectory::isPlainName(payload.archiveFileName) || payload.archiveFileName == StagingDirectory::extractedFolderName) {
        throw platform::SystemError("invalid archive file name \"" + payload.archiveFileName + "\"", EINVAL);
    }
    // An archive an earlier check left (the user said later) is taken again only when
    // its bytes still hash to the signed digest.
    auto kept = staging_.keptDownload(payload.archiveFileName, payload.archiveSize);
    if (!kept || digestMismatch(payload, *kept)) return std::nullopt;
    if (options.log) options.log("AutoUpdateKit: using the update " + updateIdentifier(payload) + " downloaded before");
    return kept;
}

std::string AutoUpdateManager::Check::downloadedArchive(const UpdateManifestPayload& payload,
                                                        const AutoUpdateCheckOptions& options) const {
    std::string archive = download(payload.archiveURL, payload.archiveSize, payload.archiveFileName, options);
    if (auto digest = digestMismatch(payload, archive)) throw AutoUpdateError::archiveHashMismatch(payload.archiveSHA256, *digest);
    return archive;
}

std::string AutoUpdateManager::Check::download(const URL& url, std::int64_t signedSize, const std::string& fileName,
                                               const AutoUpdateCheckOptions& options) const {
    staging_.reset();
    std::string destination = staging_.path() + "/" + fileName;
    std::string partial = staging_.path() + "/" + StagingDirectory::partialDownloadPrefix + "XXXXXX";
    platform::FileDescriptor fd(::mkostemp(partial.data(), O_CLOEXEC));
    if (!fd.valid()) platform::throwSystemError("create " + partial);
    ProgressThrottle progress(options.progress, sizeLimit(signedSize));
    try {
        platform::HTTPResponse response = platform::HTTPSession::shared()->download(
            downloadRequest(url, signedSize, options.cancellation), fd.get(), progress.observer(), sizeLimit(signedSize));
        fd.reset();
        if (response.isHTTP && (response.statusCode < 200 || response.statusCode > 299)) {
            throw AutoUpdateError::archiveDownloadFailed(response.statusCode, url);
        }
        if (::rename(partial.c_str(), destination.c_str()) != 0) platform::throwSystemError("move " + partial);
    } catch (const platform::TransportError& error) {
        ::unlink(partial.c_str());
        throwTransportFailure(error, url);
    } catch (...) {
        ::unlink(partial.c_str());
        throw;
    }
    progress.finish();
    return destination;
}

std::string AutoUpdateManager::Check::extractArchive(const std::string& archive, const std::string& expectedAppName) const {
    std::string extracted = staging_.extractedFolder();
    platform::removeRecursively(extracted);
    platform::createDirectories(extracted);
    std::string output = runDitto({"-x", "-k", archive, extracted});

    // The expected name counts only as one plain name, and never through a link. A
    // regular file of that name is still the app the archive offers, and fails
    // validation as a bundle without an identifier.
    if (StagingDirectory::isPlainName(expectedAppName)) {
        std::string expected = extracted + "/" + expectedAppName + ".app";
        mode_t type = fileTypeAt(expected);
        if (type == S_IFDIR || type == S_IFREG) return expected;
    }
    std::vector<std::string> names = platform::directoryEntries(extracted);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        if (name.front() == '.' || name.size() <= 4 || name.compare(name.size() - 4, 4, ".app") != 0) continue;
        std::string candidate = extracted + "/" + name;
        if (fileTypeAt(candidate) == S_IFDIR) return candidate;
    }
    if (!output.empty()) throw AutoUpdateError::extractionFailed(output);
    throw AutoUpdateError::extractedAppMissing();
}

void AutoUpdateManager::Check::validateExtractedApp(const std::string& app, const SignedUpdateManifest& manifest) const {
    std::optional<std::string> identifier;
    try {
        auto bundle = platform::Bundle::open(FileURL(app));
        if (bundle) identifier = bundle->bundleIdentifier();
    } catch (const platform::PropertyListError&) {
    }
    if (identifier != manifest.payload.bundleIdentifier) {
        throw AutoUpdateError::bundleIdentifierMismatch(manifest.payload.bundleIdentifier, identifier);
    }
    try {
        InstallationPlanner::verifySignature(FileURL(app));
    } catch (const InstallationPlanError& error) {
        throw AutoUpdateError::invalidCodeSignature(error.description());
    }
}

}  // namespace autoupdatekit
