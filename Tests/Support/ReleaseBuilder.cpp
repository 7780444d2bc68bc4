#include "ReleaseBuilder.hpp"

#include "BundleBuilder.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Identifiers.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <stdexcept>

namespace testsupport {

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
    autoupdatekit::UpdateManifestPayload payload{
        1,
        options.appName,
        options.identifier,
        options.version,
        options.build,
        std::nullopt,
        *autoupdatekit::URL::parse(archiveURL),
        options.appName + "-" + options.version + ".zip",
        platform::hexLowercase(digest.data(), digest.size()),
        static_cast<std::int64_t>(bytes.size()),
        *platform::parseISO8601("2026-12-01T12:00:00Z"),
        std::nullopt,
    };
    return {app, archive, payload};
}

}  // namespace testsupport
