#pragma once
// The update manifest: the signed description of a release and its archive.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/URL.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace autoupdatekit {

struct AUTOUPDATEKIT_EXPORT UpdateManifestPayload {
    std::int64_t schemaVersion = 1;
    std::string appName;
    std::string bundleIdentifier;
    std::string version;
    std::string build;
    std::optional<std::string> minimumSystemVersion;
    URL archiveURL;
    std::string archiveFileName;
    std::string archiveSHA256;
    std::int64_t archiveSize = 0;
    std::chrono::sys_seconds releaseDate;
    std::optional<std::string> releaseNotes;

    bool operator==(const UpdateManifestPayload&) const = default;
};

struct AUTOUPDATEKIT_EXPORT SignedUpdateManifest {
    UpdateManifestPayload payload;
    // Base64 text of the Ed25519 signature over the canonical payload bytes.
    std::string signature;

    bool operator==(const SignedUpdateManifest&) const = default;
};

}  // namespace autoupdatekit
