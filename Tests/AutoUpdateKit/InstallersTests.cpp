#include "AutoUpdateKit/Installers.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "NobodyProcess.hpp"
#include "TmpfsMount.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"

#include <regex>

using namespace autoupdatekit;
using namespace testsupport;
using platform::FileURL;

namespace {

class Installers : public UpdaterEnvironment {
protected:
    void SetUp() override {
        UpdaterEnvironment::SetUp();
        current_ = signedApp(folder_ / "apps", "1.0");
        staged_ = signedApp(folder_ / "staged", "2.0");
    }

    InstallationPlan plan(InstallStrategy strategy) { return {FileURL(current_), FileURL(staged_), strategy}; }
    void breakStaged() { writeFile(staged_ + "/Contents/Resources/readme.txt", "tampered"); }

    std::string current_;
    std::string staged_;
};

// The contents installer's outcome as uid 65534: "installed" or the error's text.
std::string installContentsAsNobody(const InstallationPlan& plan) {
    return runAsNobody([&] {
        BundleContentsInstaller::install(plan);
        return std::string("installed");
    });
}

}  // namespace

TEST_F(Installers, EachStrategyInstallsAVerifiedBundleAndKeepsNoBackup) {
    EXPECT_EQ(WholeBundleInstaller::install(plan(InstallStrategy::replaceWholeBundle)), (InstallationResult{InstallStrategy::replaceWholeBundle}));
    EXPECT_EQ(versionAt(current_), "2.0");
    EXPECT_EQ(listTree(folder_ / "apps").find("autoupdate"), std::string::npos);

    current_ = signedApp(folder_ / "apps2", "1.0");
    EXPECT_EQ(BundleContentsInstaller::install(plan(InstallStrategy::replaceBundleContents)).backupURL, std::nullopt);
    EXPECT_EQ(versionAt(current_), "2.0");
    EXPECT_EQ(listTree(folder_ / "tmp"), "");

    current_ = signedApp(folder_ / "apps3", "1.0");
    DirectBundleInstaller::install(plan(InstallStrategy::replaceWithoutBackup));
    EXPECT_EQ(versionAt(current_), "2.0");
    EXPECT_EQ(listTree(folder_ / "apps3"), listTree(folder_ / "staged"));

    signedApp(folder_ / "home/Applications", "0.5");
    FileURL installed = UserApplicationsInstaller::install(plan(InstallStrategy::relocateToUserApplications));
    EXPECT_EQ(installed.path(), folder_ / "home/Applications/Sample.app");
    EXPECT_EQ(versionAt(installed.path()), "2.0");
    EXPECT_EQ(listTree(folder_ / "home/Applications").find("autoupdate"), std::string::npos);
}

TEST_F(Installers, FailuresRestoreTheInstalledBundle) {
    breakStaged();
    std::string before = listTree(folder_ / "apps");
    for (auto strategy : {InstallStrategy::replaceWholeBundle, InstallStrategy::replaceBundleContents, InstallStrategy::replaceWithoutBackup}) {
        try {
            if (strategy == InstallStrategy::replaceWholeBundle) WholeBundleInstaller::install(plan(strategy));
            if (strategy == InstallStrategy::replaceBundleContents) BundleContentsInstaller::install(plan(strategy));
            if (strategy == InstallStrategy::replaceWithoutBackup) DirectBundleInstaller::install(plan(strategy));
            ADD_FAILURE() << rawValue(strategy) << " installed a tampered bundle";
        } catch (const InstallationPlanError& error) {
            EXPECT_NE(error.description().find("file modified"), std::string::npos) << error.description();
        }
        EXPECT_EQ(versionAt(current_), "1.0") << rawValue(strategy);
        EXPECT_EQ(listTree(folder_ / "apps"), before) << rawValue(strategy);
        EXPECT_EQ(listTree(folder_ / "tmp"), "") << rawValue(strategy);
    }

    // A bundle-less staged app: contentsMissing names it, and no backup folder is made.
    platform::removeRecursively(staged_ + "/Contents");
    try {
        BundleContentsInstaller::install(plan(InstallStrategy::replaceBundleContents));
    } catch (const InstallationError& error) {
        EXPECT_EQ(error.description(), "Contents directory does not exist at " + staged_ + "/Contents.");
    }
    EXPECT_EQ(listTree(folder_ / "tmp"), "");
}

TEST_F(Installers, AnExistingBackupNameStopsTheWholeBundleInstallUntouched) {
    std::string backup = WholeBundleInstaller::backupURL(FileURL(current_)).path();
    EXPECT_TRUE(std::regex_match(backup, std::regex(".*/apps/Sample\\.autoupdate-backup-[0-9]{14}\\.app"))) << backup;
    EXPECT_TRUE(std::regex_match(WholeBundleInstaller::backupURL(FileURL("/x/Tool")).path(),
                                 std::regex("/x/Tool\\.autoupdate-backup-[0-9]{14}")));
    writeStaleSampleBackups(folder_ / "apps");
    std::string before = listTree(folder_ / "apps");
    try {
        WholeBundleInstaller::install(plan(InstallStrategy::replaceWholeBundle));
        FAIL() << "installed over a stale backup name";
    } catch (const platform::SystemError& error) {
        EXPECT_EQ(error.code(), EEXIST);
    }
    EXPECT_EQ(versionAt(current_), "1.0");
    EXPECT_EQ(listTree(folder_ / "apps"), before);
}

// With the temporary folder on another file system the backup is a copy, whole before
// the original is touched; every failure leaves the old app whole and verifying in
// place, and no backup behind.
TEST_F(Installers, TheContentsBackupCrossesFileSystemsAndAFailureNeverBreaksTheApp) {
    TmpfsMount tmp(folder_ / "tmp", "mode=1777");
    ASSERT_TRUE(tmp.mounted()) << "mounting a tmpfs needs root in a private mount namespace";
    ASSERT_NE(lstatOf(folder_ / "tmp").st_dev, lstatOf(folder_ / "apps").st_dev);
    std::string app = buildBundle(folder_ / "owned", "Sample", {});
    std::string locked = app + "/Contents/Resources/locked";
    writeFile(locked + "/data", "root's");
    signWithTeam(app, *team_);
    current_ = app;
    std::string before = listTree(app);
    auto oldAppWholeInPlace = [&](const std::string& step) {
        EXPECT_EQ(listTree(app), before) << step;
        EXPECT_NO_THROW(InstallationPlanner::verifySignature(platform::FileURL(app))) << step;
        EXPECT_EQ(listTree(folder_ / "tmp"), "") << step;
    };

    // The staged app fails verification once installed: the backup is copied back.
    breakStaged();
    EXPECT_THROW(BundleContentsInstaller::install(plan(InstallStrategy::replaceBundleContents)), InstallationPlanError);
    oldAppWholeInPlace("verification failed");

    // As the app's owner, with a folder in it that the owner cannot empty: stopped before
    // the original is touched, where removing it part-way would break the app.
    staged_ = signedApp(folder_ / "staged2", "2.0");
    platform::giveTreeToOwner(folder_ / "owned", nobodyIdentifier, nobodyIdentifier);
    platform::giveTreeToOwner(locked, 0, 0);
    EXPECT_EQ(installContentsAsNobody(plan(InstallStrategy::replaceBundleContents)), "threw: remove " + locked + ": Permission denied");
    oldAppWholeInPlace("a folder the owner cannot remove");

    platform::giveTreeToOwner(locked, nobodyIdentifier, nobodyIdentifier);
    EXPECT_EQ(installContentsAsNobody(plan(InstallStrategy::replaceBundleContents)), "installed");
    EXPECT_EQ(versionAt(app), "2.0");
    EXPECT_NO_THROW(InstallationPlanner::verifySignature(platform::FileURL(app)));
    EXPECT_EQ(listTree(folder_ / "tmp"), "");
}
