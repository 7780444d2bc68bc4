#pragma once
// Publishes a test release the way a publisher would: a signed app, zipped with ditto,
// described by a payload and signed with the publisher's manifest key. Also writes the
// hostile archives no honest publisher makes, entry by entry.

#include "SigningKeys.hpp"

#include "AutoUpdateKit/UpdateManifest.hpp"

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A typical manifest payload for tests and benchmarks.
autoupdatekit::UpdateManifestPayload samplePayload();

struct Release {
    std::string app;      // the signed bundle
    std::string archive;  // its zip
    autoupdatekit::UpdateManifestPayload payload;

    // The manifest document, signed with the base64 private key.
    std::string manifestDocument(const std::string& privateKeyBase64) const;
};

struct ReleaseOptions {
    std::string version = "2.0";
    std::string build = "2";
    std::string identifier = "com.example.sample";
    std::string appName = "Sample";
    // Runs on the built bundle before it is signed.
    std::function<void(const std::string& app)> prepare = {};
};

// Builds the release under folder; the archive is expected at archiveURL.
Release makeRelease(const std::string& folder, const TeamKey& team, const std::string& archiveURL,
                    const ReleaseOptions& options = {});

struct ZipEntry {
    enum class Kind { file, directory, symbolicLink };
    std::string name;
    Kind kind = Kind::file;
    std::string content;  // file data, or the link target
    unsigned mode = 0644;
};

void writeZip(const std::string& path, const std::vector<ZipEntry>& entries);

}  // namespace testsupport
