#pragma once
// Publishes a test release the way a publisher would: a signed app, zipped with ditto,
// described by a payload and signed with the publisher's manifest key.

#include "SigningKeys.hpp"

#include "AutoUpdateKit/UpdateManifest.hpp"

#include <functional>
#include <string>

namespace testsupport {

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

}  // namespace testsupport
