#include "ReleaseBuilder.hpp"

#include "BundleBuilder.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <stdexcept>

namespace testsupport {

autoupdatekit::UpdateManifestPayload samplePayload() {
    return {
        1,
        "Sample",
        "com.example.sample",
        "2.4.0",
        "241",
        "12.0",
        *autoupdatekit::URL::parse("https://updates.example.com/sample/Sample-2.4.0.zip"),
        "Sample-2.4.0.zip",
        "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",
        18432512,
        *platform::parseISO8601("2025-03-14T09:30:00Z"),
        std::nullopt,
    };
}

std::string Release::manifestDocument(const std::string& privateKeyBase64) const {
    std::string signature = autoupdatekit::ManifestSignature::sign(payload, privateKeyBase64);
    return autoupdatekit::ManifestCoding::manifestData({payload, signature});
}

Release makeRelease(const std::string& folder, const TeamKey& team, const std::string& archiveURL, const ReleaseOptions& options) {
    SampleBundle sample;
    sample.identifier = options.identifier;
    sample.extraInfo["CFBundleShortVersionString"] = options.version;
    sample.extraInfo["CFBundleVersion"] = options.build;
    std::string app = buildBundle(folder, options.appName, sample);
    if (options.prepare) options.prepare(app);
    signWithTeam(app, team);
    std::string archive = folder + "/" + options.appName + "-" + options.version + ".zip";
    auto zipped = platform::runCapturingOutput(platform::paths::ditto(), {"-c", "-k", "--keepParent", app, archive});
    if (zipped.status != 0) throw std::runtime_error("zip failed: " + zipped.bytes);
    std::string bytes = platform::readWholeFile(archive);
    auto digest = platform::sha256(bytes);
    autoupdatekit::UpdateManifestPayload payload = samplePayload();
    payload.appName = options.appName;
    payload.bundleIdentifier = options.identifier;
    payload.version = options.version;
    payload.build = options.build;
    payload.minimumSystemVersion = std::nullopt;
    payload.archiveURL = *autoupdatekit::URL::parse(archiveURL);
    payload.archiveFileName = options.appName + "-" + options.version + ".zip";
    payload.archiveSHA256 = platform::hexLowercase(digest.data(), digest.size());
    payload.archiveSize = static_cast<std::int64_t>(bytes.size());
    payload.releaseDate = *platform::parseISO8601("2026-12-01T12:00:00Z");
    return {app, archive, payload};
}

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
