#include "AutoUpdateKit/InstallationPlan.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "NobodyProcess.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/FileSystem.hpp"

#include <sys/stat.h>
#include <unistd.h>

using namespace autoupdatekit;
using namespace testsupport;
using platform::FileURL;

namespace {

class Planner : public UpdaterEnvironment {
protected:
    void SetUp() override {
        UpdaterEnvironment::SetUp();
        staged_ = signedApp(folder_ / "staging", "1.0");
    }

    std::string planError(const std::string& current, const std::string& staged) {
        try {
            InstallationPlanner::plan(FileURL(current), FileURL(staged));
            return "";
        } catch (const InstallationPlanError& error) {
            return error.description();
        }
    }

    std::string staged_;
};

}  // namespace

TEST_F(Planner, ErrorsComeInOrderAndNothingChangesOnDisk) {
    std::string current = signedApp(folder_ / "installed", "1.0");
    std::string missing = folder_ / "none/Sample.app";
    EXPECT_EQ(planError(missing, folder_ / "none/Other.app"), "App bundle does not exist at " + missing + ".");
    EXPECT_EQ(planError(current, missing), "App bundle does not exist at " + missing + ".");

    // A bad staged signature is reported before any identifier is compared.
    SampleBundle other;
    other.identifier = "com.example.other";
    std::string tampered = signedApp(folder_ / "tampered", "1.0", other);
    writeFile(tampered + "/Contents/Resources/readme.txt", "changed");
    std::string before = listTree(tampered);
    std::string error = planError(current, tampered);
    EXPECT_EQ(error.rfind("Staged app signature check failed: ", 0), 0u) << error;
    EXPECT_NE(error.find("file modified: Contents/Resources/readme.txt"), std::string::npos) << error;
    EXPECT_NE(error.back(), '\n');
    EXPECT_EQ(listTree(tampered), before);

    SampleBundle upperCase;
    upperCase.identifier = "com.example.Sample";
    EXPECT_EQ(planError(current, signedApp(folder_ / "case", "1.0", upperCase)),
              "Bundle identifier mismatch. Expected com.example.sample, got com.example.Sample.");

    std::string adHoc = buildBundle(folder_ / "adhoc", "Sample");
    signAdHoc(adHoc);
    EXPECT_EQ(planError(current, adHoc), "Team identifier mismatch. Expected TEAMA1, got nil.");
}

TEST_F(Planner, AdHocBundlesPlanWithoutTeams) {
    std::string current = buildBundle(folder_ / "adhoc-installed", "Sample");
    signAdHoc(current);
    std::string staged = buildBundle(folder_ / "adhoc-staged", "Sample");
    signAdHoc(staged);
    auto plan = InstallationPlanner::plan(FileURL(current), FileURL(staged));
    EXPECT_EQ(plan.currentTeamIdentifier, std::nullopt);
    EXPECT_EQ(plan.stagedTeamIdentifier, std::nullopt);
    EXPECT_TRUE(plan.teamIdentifierMatches);
    EXPECT_EQ(plan.strategy, InstallStrategy::replaceBundleContents);
}

TEST_F(Planner, SystemAndUserApplicationsFoldersDecideFirst) {
    std::string system = signedApp("/Applications", "1.0");
    auto plan = InstallationPlanner::plan(FileURL(system), FileURL(staged_));
    EXPECT_EQ(plan.strategy, InstallStrategy::relocateToUserApplications);
    EXPECT_TRUE(plan.currentBundleWritable && plan.currentContentsWritable && plan.parentDirectoryWritable);
    EXPECT_TRUE(plan.currentOwnerMatchesUser);
    EXPECT_EQ(plan.currentTeamIdentifier, "TEAMA1");

    // Judged by the folder the path really names.
    platform::createDirectories(folder_ / "elsewhere");
    std::string climbing = "/Applications/../" + folder_.path().substr(1) + "/elsewhere/../installed/Sample.app";
    signedApp(folder_ / "installed", "1.0");
    EXPECT_EQ(InstallationPlanner::plan(FileURL(climbing), FileURL(staged_)).strategy, InstallStrategy::replaceBundleContents);
    platform::createDirectories("/Applications/Sub");
    std::string intoSystem = folder_ / "../../Applications/Sub/../Sample.app";
    EXPECT_EQ(InstallationPlanner::plan(FileURL(intoSystem), FileURL(staged_)).strategy, InstallStrategy::relocateToUserApplications);

    std::string user = signedApp(folder_ / "home/Applications", "1.0");
    ::chmod(user.c_str(), 0555);
    EXPECT_EQ(InstallationPlanner::plan(FileURL(user), FileURL(staged_)).strategy, InstallStrategy::replaceWithoutBackup);
}

TEST_F(Planner, PermissionRowsForAnOrdinaryUser) {
    ::chmod(staged_.c_str(), 0755);
    ::chmod((folder_ / "staging").c_str(), 0755);
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
