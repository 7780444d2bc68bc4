#pragma once
// The update-check tests' fixture: an installed, signed Sample.app at 1.0 (1), a
// publisher key, and a local server on which releases of the app are published.

#include "LocalHTTPServer.hpp"
#include "ReleaseBuilder.hpp"
#include "UpdaterEnvironment.hpp"

#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"

#include "Platform/Process.hpp"
#include "Platform/UserDefaults.hpp"

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct ZipEntry;

class UpdateCheck : public UpdaterEnvironment {
protected:
    void SetUp() override;

    // Publishes the release on the server: its archive and its signed manifest.
    Release publish(const ReleaseOptions& options = {}, const std::function<void(autoupdatekit::UpdateManifestPayload&)>& edit = {});
    autoupdatekit::AutoUpdateConfiguration configuration(const std::string& manifestPath = "/manifest.json?channel=beta") const;
    autoupdatekit::AutoUpdateManager manager(const std::string& manifestPath = "/manifest.json?channel=beta") const;
    // Serves the payload's manifest with the extension, both signed.
    void serveManifest(const autoupdatekit::UpdateManifestPayload& payload, autoupdatekit::ManifestExtension extension);
    // Makes a delta from the installed app to the release with the publisher's tool,
    // serves it as "/Sample.delta" and lists it in the signed manifest; its bytes.
    std::string publishDelta(const Release& release, const std::string& installed);
    // Serves the bytes as the archive of a signed 2.0 release whose digest they match.
    void serveArchive(const std::string& bytes);
    // Serves a crafted zip as the archive of a signed 2.0 release.
    void serveZip(const std::vector<ZipEntry>& entries);
    // Publishes 2.0 with its archive sent a byte a second, for a check to stop part-way.
    void publishSlowly();
    // Names the feed in the installed app's Info.plist, as autoupdatectl and the app read it.
    void configureInstalledApp() const;

    // Runs the command-line tool of the build tree.
    static platform::CapturedOutput autoupdatectl(const std::vector<std::string>& arguments);

    std::string staging() const { return folder_ / "cache/com.example.sample/AutoUpdateStaging"; }
    // The check's outcome when the update is staged.
    std::string stagedOutcome(const std::string& app = "Sample", const std::string& version = "2.0 (2)") const {
        return "ok: update " + version + " staged at " + staging() + "/Extracted/" + app + ".app";
    }
    platform::UserDefaults defaults() const { return platform::UserDefaults("com.example.sample"); }

    // The check's failure text with its detail (or "ok: <log description>"); anything
    // but an AutoUpdateError fails the test.
    static std::string outcome(const autoupdatekit::AutoUpdateManager& checker, const autoupdatekit::AutoUpdateCheckOptions& options = {});

    LocalHTTPServer server_;
    std::string privateKey_;
    std::string publicKey_;
    std::string installed_;
    int releases_ = 0;
};

}  // namespace testsupport
