#include "AutoUpdateKit/PrivilegedHelperBlesser.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "HelperClient.hpp"
#include "LocalHTTPServer.hpp"
#include "NobodyProcess.hpp"
#include "ReleaseBuilder.hpp"
#include "Supervisor.hpp"
#include "TmpfsMount.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"

#include <cstdlib>
#include <functional>
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

    // Installs version 1.0 at the path (shaped further by the optional step before it is
    // signed) and publishes 2.0 on the server.
    std::string installAndPublish(const std::string& folder, const std::function<void(const std::string&)>& shape = {}) {
        ReleaseOptions installed{"1.0", "1"};
        installed.prepare = [this, &shape](const std::string& app) {
            makeSampleApp(app);
            if (shape) shape(app);
        };
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

// As an ordinary user whose app holds a folder that the user cannot write, with the
// temporary folder on another file system: the contents move copies the app there, then
// fails to delete that folder part-way. The installed app must come back whole in place,
// with the update installed by the fallback, and nothing left in the temporary folder.
TEST_F(Orchestration, AutoupdatectlInstallAcrossFileSystemsNeverGutsAnOrdinaryUsersApp) {
    TmpfsMount temporary(folder_ / "tmp", "mode=1777");
    ASSERT_TRUE(temporary.mounted()) << "mounting a tmpfs needs root in a private mount namespace";
    std::string app = installAndPublish(folder_ / "apps", [](const std::string& bundle) {
        writeFile(bundle + "/Contents/Resources/locked/data", "root's own");
    });
    writeFile(folder_ / "launched", "");
    platform::createDirectories(folder_ / "cache");
    for (const auto& path : {folder_ / "apps", folder_ / "home", folder_ / "cache", folder_ / "launched"}) {
        ASSERT_EQ(platform::runCapturingOutput("/bin/chown", {"-R", "65534:65534", path}).status, 0) << path;
    }
    ASSERT_EQ(platform::runCapturingOutput("/bin/chown", {"-R", "0:0", app + "/Contents/Resources/locked"}).status, 0);

    std::string handedOver = runAsNobody([&] { return platform::runCapturingOutput(binDir + "/autoupdatectl", {"install", app}).bytes; });
    EXPECT_NE(handedOver.find("Handing update 2.0-2 to the deferred install script for " + app), std::string::npos) << handedOver;
    ASSERT_TRUE(launched("2.0 65534")) << handedOver;  // the fallback opened the update

    std::string fallback = folder_ / "home/Applications/Sample.app";
    std::string log = readFile(folder_ / "home/Library/Logs/AutoUpdateKit/com.example.sample.log");
    EXPECT_NE(log.find("install start strategy=replaceBundleContents"), std::string::npos) << log;
    EXPECT_NE(log.find("replaceBundleContents failed; rolling back\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("rollback failed"), std::string::npos) << log;
    EXPECT_NE(log.find("fallback relocateToUserApplications succeeded: " + fallback + "\n"), std::string::npos) << log;
    EXPECT_EQ(codesign({"--verify", "--deep", "--strict", app}).status, 0) << listTree(app);
    EXPECT_EQ(versionAt(app), "1.0");
    EXPECT_EQ(versionAt(fallback), "2.0");
    EXPECT_EQ(listTree(folder_ / "tmp"), "");
}
