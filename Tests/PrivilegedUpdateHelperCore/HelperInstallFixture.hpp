#pragma once
// The world the install tests of the real root helper share: the sample app 1.0
// installed and signed by the trusted team, a folder that an ordinary user (uid 65534)
// owns, and the helper running. The check of the installed app after each step is
// the invariant every install, refused, failed or killed, must keep.

#include "ChildProcess.hpp"
#include "Files.hpp"
#include "HelperProcess.hpp"
#include "SigningKeys.hpp"
#include "UpdaterEnvironment.hpp"
#include "WaitUntil.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"

#include <memory>
#include <string>
#include <sys/stat.h>

class HelperInstall : public testsupport::UpdaterEnvironment {
protected:
    static constexpr const char* destination = "/Applications/Sample.app";

    void SetUp() override {
        UpdaterEnvironment::SetUp();
        // Build 5, so that an older build of the same version can be staged.
        launchingApp("/Applications", "1.0", withBuild("5"));
        platform::createDirectories(attackerFolder());
        platform::giveTreeToOwner(attackerFolder(), testsupport::nobodyIdentifier, testsupport::nobodyIdentifier);
        platform::createDirectories(folder_ / "markers");
        ::chmod((folder_ / "markers").c_str(), 0777);  // a relaunch as the user writes here
        testsupport::writeFile(vault() + "/Sample.app/Contents/Resources/secret.txt", "root-only secret");
        ::chmod(vault().c_str(), 0700);
        before_ = systemState();
        helper_ = std::make_unique<testsupport::HelperProcess>();
    }

    void TearDown() override {
        helper_.reset();
        UpdaterEnvironment::TearDown();
    }

    static testsupport::SampleBundle withBuild(const std::string& build) {
        testsupport::SampleBundle sample;
        sample.extraInfo["CFBundleVersion"] = build;
        return sample;
    }

    std::string attackerFolder() const { return folder_ / "attacker"; }
    // A folder only root may enter, holding an app-shaped folder with a secret in it.
    std::string vault() const { return folder_ / "vault"; }

    // A signed app at version, owned by the attacker.
    std::string attackersApp(const std::string& name, const std::string& version, testsupport::SampleBundle sample = {}) {
        std::string app = signedApp(attackerFolder() + "/" + name, version, sample);
        platform::giveTreeToOwner(attackerFolder() + "/" + name, testsupport::nobodyIdentifier, testsupport::nobodyIdentifier);
        return app;
    }

    // A signed app whose executable adds "<uid> <version>" to launched() when it runs.
    std::string launchingApp(const std::string& folder, const std::string& version, testsupport::SampleBundle sample = {}) {
        sample.executableScript = "#!/bin/sh\necho \"$(id -u) " + version + "\" >> '" + folder_ / "markers/launched" + "'\n";
        return signedApp(folder, version, sample);
    }
    std::string launched() { return testsupport::lineOnceWritten(folder_ / "markers/launched"); }

    static autoupdatekit::PrivilegedUpdateRequest requestFor(const std::string& staged, const std::string& update, pid_t requester = 0,
                                                             bool launch = false) {
        return {destination, staged, "com.example.sample", "TEAMA1", update, requester, launch};
    }

    // The system folders the helper may write to, with the install's own files and the
    // helper's log and its folder left out.
    static std::string systemState() {
        return platform::runCapturingOutput("/bin/sh", {"-c", "find /Applications /Library /etc/autoupdatekit ! -path '/Applications/Sample.app/*' "
                                                              "! -path /Library/Logs ! -path '/Library/Logs/SamplePrivilegedUpdater.log*' | sort"})
            .bytes;
    }

    // Whole, verifying, root's alone (owned by root, writable by no one else, whatever
    // modes the staged app had) and at one of the two versions.
    void expectInstalledAppWhole(const std::string& step) const {
        ASSERT_TRUE(testsupport::exists(destination)) << step;
        EXPECT_EQ(testsupport::codesign({"--verify", "--deep", "--strict", destination}).status, 0) << step;
        auto notRoot = platform::runCapturingOutput("/usr/bin/find", {destination, "!", "-user", "0", "-o", "!", "-group", "0", "-o",
                                                                      "-perm", "/022", "!", "-type", "l"});
        EXPECT_EQ(notRoot.bytes, "") << step;
        std::string version = versionAt(destination);
        EXPECT_TRUE(version == "1.0" || version == "2.0") << step << ": " << version;
    }

    // And nothing else changed beside it.
    void expectInstalledAppIntact(const std::string& step) {
        expectInstalledAppWhole(step);
        EXPECT_EQ(systemState(), before_) << step;
    }

    std::unique_ptr<testsupport::HelperProcess> helper_;
    std::string before_;
};
