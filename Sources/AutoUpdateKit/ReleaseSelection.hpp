#pragma once
// Which of a manifest's releases a check offers the installed app: the release of the
// app's channel and, for any other channel, stable's as well; where the installed
// version is below a release's lowest installed version, the newest stepping stone it
// may apply instead; then the newest of these. Only a newer one is ever installed, so
// an app moved from beta back to stable stays as it is until stable passes it.

#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"

#include <optional>
#include <string>
#include <vector>

namespace autoupdatekit {

struct OfferedRelease {
    // The legacy payload keeps its own signature; a release taken from the extension
    // has none of its own (the extension's signatures cover it), so it is empty.
    SignedUpdateManifest manifest;
    std::vector<DeltaUpdate> deltas;
    // Marked critical, and the installed version is below its bound, if it names one.
    bool critical = false;
};

// Nothing when no release listed for those channels may be applied over the installed
// version. The manifest and the extension must have been verified.
std::optional<OfferedRelease> offeredRelease(const SignedUpdateManifest& manifest, const std::optional<ManifestExtension>& extension,
                                             const std::string& channel, const AppVersion& installed);

}  // namespace autoupdatekit
