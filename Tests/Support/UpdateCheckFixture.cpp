#include "UpdateCheckFixture.hpp"

#include "Files.hpp"

#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "BundleTree.hpp"

#include "Platform/Crypto.hpp"

namespace testsupport {

using namespace autoupdatekit;

void UpdateCheck::SetUp() {
    UpdaterEnvironment::SetUp();
    auto publisher = platform::Ed25519PrivateKey::generate();
    privateKey_ = platform::base64Encode(publisher.seed());
    publicKey_ = platform::base64Encode(publisher.publicKey().raw());
    SampleBundle installed;
    installed.extraInfo["CFBundleVersion"] = "1";
    installed_ = signedApp(folder_ / "installed", "1.0", installed);
}

Release UpdateCheck::publish(const ReleaseOptions& options, const std::function<void(UpdateManifestPayload&)>& edit) {
    Release release = makeRelease(folder_ / ("release-" + std::to_string(++releases_)), *team_, server_.url("/Sample.zip"), options);
    if (edit) edit(release.payload);
    server_.route("/Sample.zip", {200, readFile(release.archive)});
    server_.route("/manifest.json", {200, release.manifestDocument(privateKey_)});
    return release;
}

AutoUpdateConfiguration UpdateCheck::configuration(const std::string& manifestPath) const {
    return AutoUpdateConfiguration(*URL::parse(server_.url(manifestPath)), publicKey_, installed_, std::nullopt, "svc");
}

AutoUpdateManager UpdateCheck::manager(const std::string& manifestPath) const {
    return AutoUpdateManager(configuration(manifestPath));
}

std::string UpdateCheck::publishDelta(const Release& release, const std::string& installed) {
    std::string file = folder_ / "Sample.delta";
    auto made = platform::runCapturingOutput(std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdate-manifest",
                                             {"delta", "--from", installed, "--to", release.app, "--output", file});
    if (made.status != 0) throw std::runtime_error("autoupdate-manifest delta failed: " + made.bytes);
    std::string delta = readFile(file);
    auto hex = [](const platform::Sha256Digest& digest) { return platform::hexLowercase(digest.data(), digest.size()); };
    auto treeOf = [&](const std::string& app) { return hex(BundleTree::digest(BundleTree::scan(app))); };
    AppVersion from = AppVersion::ofApp(installed);
    ManifestExtension extension;
    extension.deltas = {{from.version, from.build, server_.url("/Sample.delta"), static_cast<std::int64_t>(delta.size()),
                         hex(platform::sha256(delta)), treeOf(installed), treeOf(release.app)}};
    serveManifest(release.payload, extension);
    server_.route("/Sample.delta", {200, delta});
    return delta;
}

void UpdateCheck::serveManifest(const UpdateManifestPayload& payload, ManifestExtension extension) {
    extension.signatures = {ManifestExtensionCoding::sign(payload, extension, privateKey_)};
    SignedUpdateManifest manifest{payload, ManifestSignature::sign(payload, privateKey_)};
    server_.route("/manifest.json", {200, ManifestExtensionCoding::manifestData(manifest, extension)});
}

void UpdateCheck::serveArchive(const std::string& bytes) {
    auto digest = platform::sha256(bytes);
    publish({}, [&](UpdateManifestPayload& payload) { payload.archiveSHA256 = platform::hexLowercase(digest.data(), digest.size()); });
    server_.route("/Sample.zip", {200, bytes});
}

void UpdateCheck::serveZip(const std::vector<ZipEntry>& entries) {
    writeZip(folder_ / "crafted.zip", entries);
    serveArchive(readFile(folder_ / "crafted.zip"));
}

void UpdateCheck::publishSlowly() {
    server_.route("/Sample.zip", {200, readFile(publish().archive), HTTPReply::Mode::byteASecond});
}

platform::CapturedOutput UpdateCheck::autoupdatectl(const std::vector<std::string>& arguments) {
    return platform::runCapturingOutput(std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdatectl", arguments);
}

void UpdateCheck::configureInstalledApp() const {
    setInfoValues(installed_, {{"AutoUpdateManifestURL", server_.url("/manifest.json")}, {"AutoUpdateManifestPublicKey", publicKey_}});
}

std::string UpdateCheck::outcome(const AutoUpdateManager& checker, const AutoUpdateCheckOptions& options) {
    try {
        return "ok: " + checker.checkForUpdate(options).logDescription();
    } catch (const AutoUpdateError& error) {
        return error.logDescription();
    }
}

}  // namespace testsupport
