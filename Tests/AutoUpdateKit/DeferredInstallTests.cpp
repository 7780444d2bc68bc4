#include "DeferredInstall.hpp"

#include "BundleBuilder.hpp"
#include "ChildProcess.hpp"
#include "Files.hpp"
#include "PrivateSystemPaths.hpp"
#include "SigningKeys.hpp"
#include "ToolCover.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"
#include "Platform/UserDefaults.hpp"

#include <cstdlib>
#include <future>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace autoupdatekit;
using namespace testsupport;

namespace {

constexpr const char* key = "AutoUpdateSuppressedUpdateIdentifier";

pid_t endedProcess() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

bool verifies(const std::string& app) { return codesign({"--verify", "--deep", "--strict", app}).status == 0; }

class DeferredInstall : public UpdaterEnvironment {
protected:
    void SetUp() override {
        UpdaterEnvironment::SetUp();
        savedPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        current_ = app(folder_ / "apps", "1.0");
        staged_ = app(folder_ / "staged", "2.0");
    }

    void TearDown() override {
        ::setenv("PATH", savedPath_.c_str(), 1);
        UpdaterEnvironment::TearDown();
    }

    // Puts an mv first on the search path that runs the shell text before, and the text
    // after, the real one; "$last" is its last argument. Another process acting at that
    // moment does the same.
    void wrapMove(const std::string& before, const std::string& after) {
        writeFile(folder_ / "bin/mv",
                  "#!/bin/sh\nfor last; do :; done\n" + before + "\n/bin/mv \"$@\"\nstatus=$?\n" + after + "\nexit $status\n", 0755);
        ::setenv("PATH", (folder_ / "bin:" + savedPath_).c_str(), 1);
    }

    // A signed app whose executable records "<version> <its path>" when opened.
    std::string app(const std::string& folder, const std::string& version) {
        SampleBundle sample;
        sample.executableScript = "#!/bin/sh\necho \"" + version + " $0\" >> '" + folder_ / "opened" + "'\n";
        return signedApp(folder, version, sample);
    }

    // The script run as the app starts it.
    platform::CapturedOutput runScript(const std::string& strategy, pid_t pid, const std::string& bundleIdentifier = "com.example.sample") {
        return platform::runCapturingOutput("/bin/sh", {"-c", deferredInstallScript(), "autoupdate-install", std::to_string(pid), current_,
                                                        staged_, strategy, "2.0-2", bundleIdentifier});
    }

    // Whether a contents backup (a folder holding Contents) makes an app at 1.0 that verifies.
    bool rebuildsTheOldApp(const std::string& backup) {
        std::string rebuilt = folder_ / "rebuilt/Sample.app";
        platform::removeRecursively(folder_ / "rebuilt");
        platform::createDirectories(rebuilt);
        return exists(backup + "/Contents") &&
               platform::runCapturingOutput(platform::paths::ditto(), {backup + "/Contents", rebuilt + "/Contents"}).status == 0 &&
               verifies(rebuilt) && versionAt(rebuilt) == "1.0";
    }

    std::string logMessages(const std::string& name = "com.example.sample.log") {
        return timestampedMessages(readFileIfAny(folder_ / "home/Library/Logs/AutoUpdateKit/" + name));
    }

    // What the app recorded once it has written a whole line (bounded: 5 s).
    std::string opened() { return lineOnceWritten(folder_ / "opened"); }

    platform::UserDefaults defaults() { return platform::UserDefaults("com.example.sample"); }

    std::string current_;
    std::string staged_;
    std::string savedPath_;
};

}  // namespace

// The script that runs is the tree's own file (so the shell's syntax check of what runs
// checks the file too), and that file passes shellcheck as it is.
TEST(DeferredInstallScript, TheFileInTheTreeIsWhatRunsAndPassesShAndShellcheck) {
    const std::string file = AUTOUPDATEKIT_DEFERRED_INSTALL_SCRIPT;
    std::string text = readFile(file);
    std::string script = deferredInstallScript();
    ASSERT_GE(script.size(), text.size());
    EXPECT_EQ(script.substr(script.size() - text.size()), text) << "the library embeds an old copy of " << file;
    EXPECT_EQ(platform::runCapturingOutput("/bin/sh", {"-n", "-c", script}).status, 0);
    ASSERT_TRUE(exists("/usr/bin/shellcheck")) << "shellcheck is missing: scripts/install-dependencies installs it";
    auto checked = platform::runCapturingOutput("/usr/bin/shellcheck", {file});
    EXPECT_EQ(checked.status, 0) << checked.bytes;
}

TEST_F(DeferredInstall, WaitsForTheAppThenReplacesTheWholeBundleAndReopensIt) {
    defaults().set(key, platform::PropertyValue("1.5-1"));
    NobodyProcess app([] { return std::string(); }, {.asNobody = false, .keepRunning = true});
    auto script = std::async(std::launch::async, [&] { return runScript("replaceWholeBundle", app.pid()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(logMessages(), "");
    EXPECT_EQ(versionAt(current_), "1.0");
    app.end();
    auto result = script.get();
    EXPECT_EQ(result.status, 0) << result.bytes;
    EXPECT_EQ(logMessages(), "install start strategy=replaceWholeBundle current=" + current_ + " staged=" + staged_ +
                                 " update=2.0-2\ncleared failed update suppression for com.example.sample\n"
                                 "replaceWholeBundle succeeded\nopening " + current_ + "\n");
    EXPECT_EQ(versionAt(current_), "2.0");
    EXPECT_EQ(defaults().object(key), std::nullopt);
    EXPECT_EQ(listTree(folder_ / "apps").find("autoupdate"), std::string::npos);
    EXPECT_EQ(opened(), "2.0 " + current_ + "/Contents/MacOS/Sample\n");
}

// The script (with its command in flight) is killed as each command it runs starts,
// for each strategy that touches the installed app: the app stays whole at its place,
// or in the backup this run made of it (beside it, or its Contents in the temporary
// folder).
TEST_F(DeferredInstall, AScriptKilledAtAnyStepNeverLosesTheInstalledApp) {
    std::string pristine = folder_ / "pristine/Sample.app";
    ASSERT_EQ(platform::runCapturingOutput(platform::paths::ditto(), {current_, pristine}).status, 0);
    auto appSurvives = [&] {
        if (verifies(current_)) return true;
        for (const auto& name : platform::directoryEntries(folder_ / "apps")) {
            if (name.find("autoupdate") != std::string::npos && verifies(folder_ / "apps/" + name)) return true;
        }
        for (const auto& name : platform::directoryEntries(folder_ / "tmp")) {
            if (rebuildsTheOldApp(folder_ / "tmp/" + name)) return true;
        }
        return false;
    };
    // The programs the script runs, each run a step (the shell's built-ins are none); a
    // program the script comes to use must be added here to be killed at.
    std::vector<std::string> programs = {platform::paths::codesign(), platform::paths::ditto(), platform::paths::defaults(),
                                         platform::paths::open()};
    for (const char* utility : {"date", "mkdir", "mv", "rm"}) programs.push_back(std::string("/bin/") + utility);
    StepKiller killer(programs);
    for (const std::string strategy : {"replaceWholeBundle", "replaceBundleContents", "replaceWithoutBackup"}) {
        bool finished = false;
        int step = 1;
        for (; step <= 60 && !finished; ++step) {
            for (const char* folder : {"apps", "tmp"}) {
                platform::removeRecursively(folder_ / folder);
                platform::createDirectories(folder_ / folder);
            }
            ASSERT_EQ(platform::runCapturingOutput(platform::paths::ditto(), {pristine, current_}).status, 0);
            killer.arm(step);
            // The script leads its own process group, which the killer ends.
            NobodyProcess script(
                [&] {
                    ::setpgid(0, 0);
                    return std::to_string(runScript(strategy, endedProcess()).status);
                },
                {.asNobody = false});
            finished = !killer.killAtChosenStep(script.pid());
            script.result();
            EXPECT_TRUE(appSurvives()) << strategy << " killed at step " << step << ":\n" << listTree(folder_ / "apps");
        }
        EXPECT_TRUE(finished) << strategy << " never finished between kills";
        EXPECT_GE(step, 10) << strategy << ": kills should have landed at every command of the install";
        EXPECT_EQ(versionAt(current_), "2.0") << strategy;
        EXPECT_EQ(listTree(folder_ / "tmp"), "") << strategy;  // the finished run leaves nothing over
        EXPECT_EQ(listTree(folder_ / "apps").find("autoupdate"), std::string::npos) << strategy;
    }
}

TEST_F(DeferredInstall, AStaleBackupNeverReplacesTheInstalledAppAndRelocationTakesOver) {
    writeStaleSampleBackups(folder_ / "apps");
    std::string before = listTree(folder_ / "apps");
    auto result = runScript("replaceWholeBundle", endedProcess());
    EXPECT_EQ(result.status, 0) << result.bytes;  // the fallback took over
    EXPECT_EQ(listTree(folder_ / "apps"), before);
    EXPECT_EQ(versionAt(current_), "1.0");
    EXPECT_EQ(versionAt(folder_ / "home/Applications/Sample.app"), "2.0");
    EXPECT_NE(logMessages().find("fallback relocateToUserApplications succeeded: " + folder_ / "home/Applications/Sample.app"),
              std::string::npos);

    // Relocating as such replaces that copy the same verified way, and leaves nothing over.
    writeFile(folder_ / "home/Applications/Sample.app/Contents/Resources/marker", "from the fallback");
    EXPECT_EQ(runScript("relocateToUserApplications", endedProcess()).status, 0);
    EXPECT_EQ(listTree(folder_ / "home/Applications").find("marker"), std::string::npos);
    EXPECT_EQ(listTree(folder_ / "home/Applications").find("autoupdate"), std::string::npos);
    EXPECT_EQ(versionAt(current_), "1.0");
}

TEST_F(DeferredInstall, HostileNamesStayOneArgumentAndAnEmptyIdentifierWritesNoDefaults) {
    std::string odd = folder_ / "it's a $(touch pwned) `touch pwned2` \"dir\"\nline";
    platform::createDirectories(odd);
    ASSERT_EQ(::rename(current_.c_str(), (odd + "/Sample.app").c_str()), 0);
    current_ = odd + "/Sample.app";
    ::unsetenv("TMPDIR");
    auto result = runScript("replaceBundleContents", endedProcess(), "");
    EXPECT_EQ(result.status, 0) << result.bytes;
    EXPECT_EQ(versionAt(current_), "2.0");
    EXPECT_FALSE(exists(folder_ / "pwned"));
    EXPECT_FALSE(exists("pwned2"));
    EXPECT_NE(logMessages("autoupdate.log").find("replaceBundleContents succeeded"), std::string::npos);
    EXPECT_EQ(logMessages("autoupdate.log").find("suppression"), std::string::npos);
    EXPECT_FALSE(exists(folder_ / "home/Library/Preferences"));
}

TEST_F(DeferredInstall, AnUnwritableLogFolderNeitherFailsAGoodInstallNorSpeaksOnTheAppsStandardError) {
    // As an ordinary user whose log folder belongs to root.
    platform::createDirectories(folder_ / "home/Library/Logs/AutoUpdateKit");
    ASSERT_EQ(::chown((folder_ / "home").c_str(), nobodyIdentifier, nobodyIdentifier), 0);
    for (const char* folder : {"apps", "staged", "tmp"}) platform::giveTreeToOwner(folder_ / folder, nobodyIdentifier, nobodyIdentifier);
    std::string output = runAsNobody([&] {
        auto result = runScript("replaceBundleContents", endedProcess());
        return std::to_string(result.status) + "\n" + result.bytes;
    });
    EXPECT_EQ(output, "0\n");  // standard output and error, through one pipe
    EXPECT_EQ(versionAt(current_), "2.0");
}

// A contents move to a temporary folder on another file system copies, then deletes.
// When that stops part-way (a folder inside the app that its user cannot write, a
// temporary folder too small for the app), the installed app is restored from what the
// backup holds; when even the restore fails (the disk filled meanwhile), the backup is
// kept whole and the log names it. Nothing else is left over. As an ordinary user.
TEST_F(DeferredInstall, AContentsMoveAcrossFileSystemsThatStopsPartWayNeverLosesTheInstalledApp) {
    struct Case {
        const char* name;
        const char* temporaryFolderOptions;
        bool folderItsUserCannotWrite;
        bool diskFilledAfterTheMove;
    };
    const std::string fallback = folder_ / "home/Applications/Sample.app";
    for (const Case& c : {Case{"a folder its user cannot write", "mode=1777", true, false},
                          Case{"a temporary folder too small", "mode=1777,size=64k", false, false},
                          Case{"a disk filled before the restore", "mode=1777", true, true}}) {
        SCOPED_TRACE(c.name);
        for (const char* folder : {"apps", "home", "bin"}) platform::removeRecursively(folder_ / folder);
        ::setenv("PATH", savedPath_.c_str(), 1);
        TmpfsMount apps(folder_ / "apps", "mode=0755,size=4m");
        TmpfsMount temporary(folder_ / "tmp", c.temporaryFolderOptions);
        ASSERT_TRUE(apps.mounted() && temporary.mounted()) << "mounting a tmpfs needs root in a private mount namespace";
        ASSERT_NE(lstatOf(folder_ / "apps").st_dev, lstatOf(folder_ / "tmp").st_dev);

        current_ = app(folder_ / "apps", "1.0");
        writeFile(current_ + "/Contents/Resources/large", std::string(256 * 1024, 'x'));
        if (c.folderItsUserCannotWrite) writeFile(current_ + "/Contents/Resources/locked/data", "root's own");
        signWithTeam(current_, *team_);
        platform::createDirectories(folder_ / "home");
        for (const char* folder : {"apps", "home", "staged"}) platform::giveTreeToOwner(folder_ / folder, nobodyIdentifier, nobodyIdentifier);
        if (c.folderItsUserCannotWrite) platform::giveTreeToOwner(current_ + "/Contents/Resources/locked", 0, 0);
        if (c.diskFilledAfterTheMove) {
            wrapMove("", "case $last in */AutoUpdate-Backup-*) cat /dev/zero >'" + folder_ / "apps/filler" + "' 2>/dev/null;; esac");
        }
        std::string before = listTree(folder_ / "apps");

        std::string status = runAsNobody([&] { return std::to_string(runScript("replaceBundleContents", endedProcess()).status); });
        EXPECT_EQ(status, "0");  // the fallback took over
        EXPECT_TRUE(verifies(fallback));
        EXPECT_EQ(versionAt(fallback), "2.0");
        std::string log = logMessages();
        EXPECT_NE(log.find("replaceBundleContents failed; rolling back\n"), std::string::npos) << log;
        EXPECT_NE(log.find("fallback relocateToUserApplications succeeded: " + fallback + "\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("replaceBundleContents succeeded"), std::string::npos) << log;
        const std::string kept = "rollback failed; backup kept at ";
        if (!c.diskFilledAfterTheMove) {
            EXPECT_EQ(log.find(kept), std::string::npos) << log;
            EXPECT_TRUE(verifies(current_));
            EXPECT_EQ(versionAt(current_), "1.0");
            EXPECT_EQ(listTree(folder_ / "apps"), before);
            EXPECT_EQ(listTree(folder_ / "tmp"), "");
            continue;
        }
        std::size_t at = log.find(kept);
        ASSERT_NE(at, std::string::npos) << log;
        std::string backup = log.substr(at + kept.size(), log.find('\n', at) - at - kept.size());
        auto entries = platform::directoryEntries(folder_ / "tmp");
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(folder_ / "tmp/" + entries.front(), backup);
        EXPECT_TRUE(rebuildsTheOldApp(backup));
    }
}

// A failed install in place is logged, rolled back, suppressed, and the old app
// reopened whole: a staged app that fails its check (under each strategy, and an
// unknown one), a folder the script cannot make (the contents backup, the user's
// Applications folder), and a folder someone makes at the whole-bundle backup's name
// between the script's look and its move, which must fail the move rather than put the
// app inside that folder, where the rollback would take that folder for the app.
TEST_F(DeferredInstall, AFailedInstallRestoresSuppressesAndReopensTheOldApp) {
    auto tamper = [&] { writeFile(staged_ + "/Contents/Resources/readme.txt", "tampered"); };
    auto noFolders = [&] {
        writeFile(folder_ / "home/Applications", "a file, not a folder");
        writeFile(folder_ / "not-a-folder", "");
        ::setenv("TMPDIR", (folder_ / "not-a-folder").c_str(), 1);
    };
    auto plantAtBackup = [&] {
        tamper();
        wrapMove("case $last in *.autoupdate-backup-*) mkdir -p \"$last\" && echo planted >\"$last/planted\";; esac", "");
    };
    const std::string fallbackFailed = "fallback relocateToUserApplications failed\n";
    const struct {
        std::string strategy;
        std::function<void()> setUp;
        std::string logged;
        bool plants = false;
    } cases[] = {
        {"replaceWholeBundle", tamper, fallbackFailed},
        {"replaceBundleContents", tamper, fallbackFailed},
        {"replaceWithoutBackup", tamper, fallbackFailed},
        {"unknownStrategy", tamper, "unknown install strategy: unknownStrategy\n"},
        {"replaceBundleContents", noFolders, "replaceBundleContents failed; rolling back\n" + fallbackFailed},
        {"relocateToUserApplications", noFolders, "relocateToUserApplications failed\n"},
        {"replaceWholeBundle", plantAtBackup, "replaceWholeBundle failed; rolling back\n" + fallbackFailed, true},
    };
    std::string before = listTree(folder_ / "apps");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strategy);
        for (const char* leftover : {"opened", "home", "not-a-folder", "bin"}) platform::removeRecursively(folder_ / leftover);
        ::setenv("TMPDIR", (folder_ / "tmp").c_str(), 1);
        ::setenv("PATH", savedPath_.c_str(), 1);
        staged_ = app(folder_ / "staged", "2.0");
        c.setUp();
        EXPECT_EQ(runScript(c.strategy, endedProcess()).status, 1);
        EXPECT_TRUE(verifies(current_));
        EXPECT_EQ(versionAt(current_), "1.0");
        EXPECT_EQ(listTree(folder_ / "tmp"), "");
        EXPECT_FALSE(exists(folder_ / "home/Applications/Sample.app"));
        EXPECT_EQ(defaults().string(key), "2.0-2");
        EXPECT_EQ(opened(), "1.0 " + current_ + "/Contents/MacOS/Sample\n");
        std::string log = logMessages();
        EXPECT_EQ(log.rfind("install start strategy=" + c.strategy + " current=" + current_ + " staged=" + staged_ + " update=2.0-2\n", 0), 0u) << log;
        EXPECT_NE(log.find(c.logged + "suppressed failed update 2.0-2 for com.example.sample\n"), std::string::npos) << log;
        // What was planted stays as it was, and nothing else is left beside the app.
        int planted = 0;
        for (const auto& name : platform::directoryEntries(folder_ / "apps")) {
            if (name.find(".autoupdate-backup-") == std::string::npos) continue;
            ++planted;
            EXPECT_EQ(listTree(folder_ / "apps/" + name), "planted\n");
            platform::removeRecursively(folder_ / "apps/" + name);
        }
        EXPECT_EQ(planted, c.plants ? 1 : 0);
        EXPECT_EQ(listTree(folder_ / "apps"), before);
    }
}
