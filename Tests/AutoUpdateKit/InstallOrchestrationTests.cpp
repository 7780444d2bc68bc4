#include "AutoUpdateKit/PrivilegedHelperBlesser.hpp"

#include "AsUser.hpp"
#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "HelperClient.hpp"
#include "LocalHTTPServer.hpp"
#include "ReleaseBuilder.hpp"
#include "Supervisor.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"

#include <cstdlib>
#include <thread>
#include <unistd.h>

using namespace autoupdatekit;
using namespace testsupport;

namespace {

constexpr const char* label = "com.example.sample.PrivilegedUpdater";
const std::string binDir = AUTOUPDATEKIT_BUILD_BIN_DIR;

class Orchestration : public UpdaterEnvironment {
protected:
    void SetUp() override {
        UpdaterEnvironment::SetUp();
        platform::createDirectories("/Library/Logs");
        auto publisher = platform::Ed25519PrivateKey::generate();
        privateKey_ = platform::base64Encode(publisher.seed());
        publicKey_ = platform::base64Encode(publisher.publicKey().raw());
    }
    // Turns a built bundle into the sample app: the real client program as its
    // executable, the helper inside it, and its update configuration.
    void makeSampleApp(const std::string& app) {
        auto copy = [](const std::string& from, const std::string& to) {
            writeFile(to, readFile(from), 0755);
        };
        copy(binDir + "/DemoApp", app + "/Contents/MacOS/Sample");
        copy(binDir + "/TestPrivilegedUpdateHelper", app + "/Contents/Library/LaunchServices/" + label);
        auto info = readDictionary(app + "/Contents/Info.plist");
        info["AutoUpdateManifestURL"] = server_.url("/manifest.json");
        info["AutoUpdateManifestPublicKey"] = publicKey_;
        info["AutoUpdateMachServiceName"] = label;
        info["SampleMarkerPath"] = folder_ / "launched";
        writeFile(app + "/Contents/Info.plist", platform::PropertyList::xml(platform::PropertyValue(info)));
    }

    // Installs version 1.0 at the path and publishes 2.0 on the server.
    std::string installAndPublish(const std::string& folder) {
        ReleaseOptions installed{"1.0", "1"};
        installed.prepare = [this](const std::string& app) { makeSampleApp(app); };
        std::string app = makeRelease(folder, *team_, server_.url("/unused.zip"), installed).app;
        ReleaseOptions update{"2.0", "2"};
        update.prepare = [this](const std::string& bundle) { makeSampleApp(bundle); };
        Release release = makeRelease(folder_ / "release", *team_, server_.url("/Sample.zip"), update);
        server_.route("/Sample.zip", {200, readFile(release.archive)});
        server_.route("/manifest.json", {200, release.manifestDocument(privateKey_)});
        return app;
    }

    platform::CapturedOutput runApp(const std::string& app, const std::string& mode) {
        return platform::runCapturingOutput(app + "/Contents/MacOS/Sample", {mode});
    }

    // Waits (bounded: 30 s) for the marker to hold the line.
    bool launched(const std::string& line) {
        for (int attempt = 0; attempt < 600; ++attempt) {
            if (exists(folder_ / "launched") && readFile(folder_ / "launched").find(line) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    LocalHTTPServer server_;
    std::string privateKey_;
    std::string publicKey_;
};

}  // namespace

TEST_F(Orchestration, FailuresLeaveTheAppRunningWithTheError) {
    // No supervisor: the helper cannot be loaded.
    std::string app = installAndPublish("/Applications");
    auto run = runApp(app, "privileged");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.bytes.find("AutoUpdateKit: Could not install the privileged helper: launchctl bootstrap failed: "), std::string::npos)
        << run.bytes;
    EXPECT_EQ(versionAt(app), "1.0");

    // The helper is there but refuses: another destination than its policy's.
    Supervisor supervisor;
    platform::removeRecursively(app);
    std::string other = installAndPublish("/Applications/Other");
    run = runApp(other, "privileged");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.bytes.find("AutoUpdateKit: The privileged update helper rejected the request: Destination "
                             "/Applications/Other/Sample.app is not allowed.\n"),
              std::string::npos)
        << run.bytes;
    EXPECT_EQ(versionAt(other), "1.0");
}

TEST_F(Orchestration, BlessingChecksBeforeItChangesAnything) {
    Supervisor supervisor;
    ReleaseOptions adHocOptions{"1.0", "1"};
    adHocOptions.prepare = [this](const std::string& app) { makeSampleApp(app); };
    std::string app = makeRelease(folder_ / "apps", *team_, server_.url("/x.zip"), adHocOptions).app;
    auto blessError = [&](const std::string& name, const std::string& bundle) {
        try {
            PrivilegedHelperBlesser::ensureInstalled(name, platform::FileURL(bundle));
            return std::string();
        } catch (const PrivilegedHelperBlesserError& error) {
            return error.description();
        }
    };
    EXPECT_NE(blessError("../evil", app).find("is not a plain name"), std::string::npos);
    EXPECT_NE(blessError("com.example.other", app).find("has no helper tool"), std::string::npos);
    // The helper's requirement holds only for the trusted team's signature.
    signAdHoc(app);
    EXPECT_NE(blessError(label, app).find("does not satisfy the helper's SMAuthorizedClients requirement"), std::string::npos)
        << blessError(label, app);
    EXPECT_FALSE(exists("/Library/PrivilegedHelperTools"));
    EXPECT_FALSE(exists("/Library/LaunchDaemons"));

    // An ordinary user cannot authorize.
    ::chmod(folder_.path().c_str(), 0755);
    std::string asNobody = runAsNobody([&] { return blessError(label, app); });
    EXPECT_EQ(asNobody, "Could not create authorization for the privileged helper. OSStatus -70020.");
}

TEST_F(Orchestration, AutoupdatectlInstallHandsOverAsTheAppWould) {
    std::string app = installAndPublish(folder_ / "apps");
    auto tool = [](std::vector<std::string> arguments) {
        return platform::runCapturingOutput(binDir + "/autoupdatectl", arguments);
    };
    auto run = tool({"install", app});
    EXPECT_EQ(run.status, 0) << run.bytes;
    EXPECT_NE(run.bytes.find("Handing update 2.0-2 to the deferred install script for " + app), std::string::npos) << run.bytes;
    ASSERT_TRUE(launched("2.0 0")) << run.bytes;
    EXPECT_EQ(versionAt(app), "2.0");
    // Now up to date: nothing is handed over.
    run = tool({"install", app});
    EXPECT_EQ(run.status, 0) << run.bytes;
    EXPECT_NE(run.bytes.find("up to date at 2.0 (2)"), std::string::npos) << run.bytes;
    EXPECT_EQ(tool({"install"}).status, 2);
}
