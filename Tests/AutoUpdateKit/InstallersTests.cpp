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

#include <functional>
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
    EXPECT_EQ(planError(adHocInstalled, adHoc), "");
}

TEST_F(Installation, PlanSystemAndUserApplicationsFoldersDecideFirst) {
    std::string system = signedApp("/Applications", "1.0");
    // Writable and owned, yet not replaced in place.
    EXPECT_EQ(InstallationPlanner::plan(FileURL(system), FileURL(staged_)).strategy, InstallStrategy::relocateToUserApplications);

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
    const struct {
        std::string folder;
        mode_t folderMode;
        uid_t bundleOwner;
        uid_t contentsOwner;
        std::string expected;
    } rows[] = {
        {"owned", 0755, nobodyIdentifier, nobodyIdentifier, "replaceBundleContents owner"},
        {"writable", 0777, 0, 0, "replaceWholeBundle other"},
        {"locked", 0755, 0, 0, "relocateToUserApplications other"},
        // Owned and writable, but its Contents folder is not: not the contents strategy.
        {"contents-locked", 0755, nobodyIdentifier, 0, "relocateToUserApplications owner"},
    };
    for (const auto& row : rows) {
        std::string current = signedApp(folder_ / row.folder, "1.0");
        ASSERT_EQ(::chmod((folder_ / row.folder).c_str(), row.folderMode), 0);
        ASSERT_EQ(::chown(current.c_str(), row.bundleOwner, row.bundleOwner), 0);
        ASSERT_EQ(::chown((current + "/Contents").c_str(), row.contentsOwner, row.contentsOwner), 0);
        EXPECT_EQ(runAsNobody([&] {
                      auto plan = InstallationPlanner::plan(FileURL(current), FileURL(staged_));
                      return rawValue(plan.strategy) + (plan.currentOwnerMatchesUser ? " owner" : " other");
                  }),
                  row.expected)
            << row.folder;
    }
}

// Each installer refuses a staged bundle that fails its check, leaving the installed one
// as it was, and installs a good one, keeping no backup.
TEST_F(Installation, EachStrategyInstallsOnlyAVerifiedBundleAndKeepsNoBackup) {
    const struct {
        InstallStrategy strategy;
        std::function<void(const InstallationPlan&)> install;
        std::string installed;
    } rows[] = {
        {InstallStrategy::replaceWholeBundle, WholeBundleInstaller::install, current_},
        {InstallStrategy::replaceBundleContents, BundleContentsInstaller::install, current_},
        {InstallStrategy::replaceWithoutBackup, DirectBundleInstaller::install, current_},
        {InstallStrategy::relocateToUserApplications, UserApplicationsInstaller::install, folder_ / "home/Applications/Sample.app"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(rawValue(row.strategy));
        signedApp(folder_ / "apps", "1.0");
        signedApp(folder_ / "home/Applications", "0.5");
        breakStaged();
        std::string before = listTree(folder_.path());
        try {
            row.install(plan(row.strategy));
            ADD_FAILURE() << "installed a tampered bundle";
        } catch (const InstallationPlanError& error) {
            EXPECT_NE(error.description().find("file modified"), std::string::npos) << error.description();
        }
        EXPECT_EQ(listTree(folder_.path()), before);
        staged_ = signedApp(folder_ / "staged", "2.0");
        row.install(plan(row.strategy));
        EXPECT_EQ(versionAt(row.installed), "2.0");
        EXPECT_EQ(listTree(row.installed), listTree(staged_));
        EXPECT_EQ(listTree(folder_ / "tmp"), "");
        EXPECT_EQ(listTree(folder_ / "apps").find("autoupdate"), std::string::npos);
        EXPECT_EQ(listTree(folder_ / "home/Applications").find("autoupdate"), std::string::npos);
    }
    EXPECT_EQ(UserApplicationsInstaller::install(plan(InstallStrategy::relocateToUserApplications)).path(),
              folder_ / "home/Applications/Sample.app");

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
