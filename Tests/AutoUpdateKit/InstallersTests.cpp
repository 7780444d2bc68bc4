// The installation planner's checks and choice of strategy, and the in-process
// installers that carry out a plan.

#include "AutoUpdateKit/InstallationPlan.hpp"
#include "AutoUpdateKit/Installers.hpp"

#include "BundleBuilder.hpp"
#include "ChildProcess.hpp"
#include "Files.hpp"
#include "PrivateSystemPaths.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/SystemError.hpp"

#include <regex>
#include <sys/stat.h>
#include <unistd.h>

using namespace autoupdatekit;
using namespace testsupport;
using platform::FileURL;

namespace {

// Sample.app installed at 1.0 and staged at 2.0, both signed by the trusted team.
class Installation : public UpdaterEnvironment {
protected:
    void SetUp() override {
        UpdaterEnvironment::SetUp();
        current_ = signedApp(folder_ / "apps", "1.0");
        staged_ = signedApp(folder_ / "staged", "2.0");
    }

    InstallationPlan plan(InstallStrategy strategy) { return {FileURL(current_), FileURL(staged_), strategy}; }
    void breakStaged() { writeFile(staged_ + "/Contents/Resources/readme.txt", "tampered"); }

    // The planner's error text, "" when it planned.
    std::string planError(const std::string& current, const std::string& staged) {
        try {
            InstallationPlanner::plan(FileURL(current), FileURL(staged));
            return "";
        } catch (const InstallationPlanError& error) {
            return error.description();
        }
    }

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

TEST_F(Installation, PlanErrorsComeInOrderChangeNothingAndAdHocBundlesPlanWithoutTeams) {
    std::string missing = folder_ / "none/Sample.app";
    EXPECT_EQ(planError(missing, folder_ / "none/Other.app"), "App bundle does not exist at " + missing + ".");
    EXPECT_EQ(planError(current_, missing), "App bundle does not exist at " + missing + ".");

    // A bad staged signature is reported before any identifier is compared.
    SampleBundle other;
    other.identifier = "com.example.other";
    std::string tampered = signedApp(folder_ / "tampered", "1.0", other);
    writeFile(tampered + "/Contents/Resources/readme.txt", "changed");
    std::string before = listTree(tampered);
    std::string error = planError(current_, tampered);
    EXPECT_EQ(error.rfind("Staged app signature check failed: ", 0), 0u) << error;
    EXPECT_NE(error.find("file modified: Contents/Resources/readme.txt"), std::string::npos) << error;
    EXPECT_NE(error.back(), '\n');
    EXPECT_EQ(listTree(tampered), before);

    SampleBundle upperCase;
    upperCase.identifier = "com.example.Sample";
    EXPECT_EQ(planError(current_, signedApp(folder_ / "case", "1.0", upperCase)),
              "Bundle identifier mismatch. Expected com.example.sample, got com.example.Sample.");

    std::string adHoc = buildBundle(folder_ / "adhoc", "Sample");
    signAdHoc(adHoc);
    EXPECT_EQ(planError(current_, adHoc), "Team identifier mismatch. Expected TEAMA1, got nil.");

    // Installed and staged both ad-hoc signed: planned without teams.
    std::string adHocInstalled = buildBundle(folder_ / "adhoc-installed", "Sample");
    signAdHoc(adHocInstalled);
    auto plan = InstallationPlanner::plan(FileURL(adHocInstalled), FileURL(adHoc));
    EXPECT_EQ(plan.currentTeamIdentifier, std::nullopt);
    EXPECT_EQ(plan.stagedTeamIdentifier, std::nullopt);
    EXPECT_TRUE(plan.teamIdentifierMatches);
    EXPECT_EQ(plan.strategy, InstallStrategy::replaceBundleContents);
}

TEST_F(Installation, PlanSystemAndUserApplicationsFoldersDecideFirst) {
    std::string system = signedApp("/Applications", "1.0");
    auto plan = InstallationPlanner::plan(FileURL(system), FileURL(staged_));
    EXPECT_EQ(plan.strategy, InstallStrategy::relocateToUserApplications);
    EXPECT_TRUE(plan.currentBundleWritable && plan.currentContentsWritable && plan.parentDirectoryWritable);
    EXPECT_TRUE(plan.currentOwnerMatchesUser);
    EXPECT_EQ(plan.currentTeamIdentifier, "TEAMA1");

    // Judged by the folder the path really names.
    platform::createDirectories(folder_ / "elsewhere");
    std::string climbing = "/Applications/../" + folder_.path().substr(1) + "/elsewhere/../apps/Sample.app";
    EXPECT_EQ(InstallationPlanner::plan(FileURL(climbing), FileURL(staged_)).strategy, InstallStrategy::replaceBundleContents);
    platform::createDirectories("/Applications/Sub");
    std::string intoSystem = folder_ / "../../Applications/Sub/../Sample.app";
    EXPECT_EQ(InstallationPlanner::plan(FileURL(intoSystem), FileURL(staged_)).strategy, InstallStrategy::relocateToUserApplications);

    std::string user = signedApp(folder_ / "home/Applications", "1.0");
    ::chmod(user.c_str(), 0555);
    EXPECT_EQ(InstallationPlanner::plan(FileURL(user), FileURL(staged_)).strategy, InstallStrategy::replaceWithoutBackup);
}

TEST_F(Installation, PlanPermissionRowsForAnOrdinaryUser) {
    ::chmod(staged_.c_str(), 0755);
    ::chmod((folder_ / "staged").c_str(), 0755);
    auto strategyAsNobody = [&](const std::string& current) {
        return runAsNobody([&] {
            try {
                auto plan = InstallationPlanner::plan(FileURL(current), FileURL(staged_));
                return rawValue(plan.strategy) + (plan.currentOwnerMatchesUser ? " owner" : " other");
            } catch (const std::exception& error) {
                return std::string("error: ") + error.what();
            }
        });
    };
    auto giveTo = [](const std::string& path, uid_t owner) {
        ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
        ASSERT_EQ(::chown((path + "/Contents").c_str(), owner, owner), 0);
    };

    std::string owned = signedApp(folder_ / "owned", "1.0");
    giveTo(owned, nobodyIdentifier);
    EXPECT_EQ(strategyAsNobody(owned), "replaceBundleContents owner");

    std::string foreignInWritable = signedApp(folder_ / "writable", "1.0");
    ASSERT_EQ(::chmod((folder_ / "writable").c_str(), 0777), 0);
    EXPECT_EQ(strategyAsNobody(foreignInWritable), "replaceWholeBundle other");

    std::string foreignLocked = signedApp(folder_ / "locked", "1.0");
    EXPECT_EQ(strategyAsNobody(foreignLocked), "relocateToUserApplications other");

    // Owned and writable, but its Contents folder is not: not the contents strategy.
    std::string contentsLocked = signedApp(folder_ / "contents-locked", "1.0");
    giveTo(contentsLocked, nobodyIdentifier);
    ASSERT_EQ(::chown((contentsLocked + "/Contents").c_str(), 0, 0), 0);
    EXPECT_EQ(strategyAsNobody(contentsLocked), "relocateToUserApplications owner");
}

TEST_F(Installation, EachStrategyInstallsAVerifiedBundleAndKeepsNoBackup) {
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

TEST_F(Installation, FailuresRestoreTheInstalledBundle) {
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

TEST_F(Installation, AnExistingBackupNameStopsTheWholeBundleInstallUntouched) {
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
TEST_F(Installation, TheContentsBackupCrossesFileSystemsAndAFailureNeverBreaksTheApp) {
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
