// An ordinary local user (uid 65534) against the real root helper: every attempt is
// refused or harmless, the installed app stays whole, root-owned and verifying, and
// nothing outside the allowed destination changes.

#include "ChildProcess.hpp"
#include "HelperInstallFixture.hpp"
#include "PrivateSystemPaths.hpp"
#include "ToolCover.hpp"

#include "Platform/ToolPaths.hpp"

#include <chrono>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

using namespace testsupport;
using autoupdatekit::PrivilegedUpdateRequest;

namespace {

class LocalAttacker : public HelperInstall {};

struct Refusal {
    PrivilegedUpdateRequest request;
    std::string refusal;
    std::function<void()> plant = [] {};  // as the attacker, before the request
};

}  // namespace

// Requests that name something else than the allowed app are refused before any file
// is read: links, "..", other teams, other identifiers; "." and ".." detours name the
// allowed destination and pass on to the next check. The staged app is opened as the
// attacker, through no link: a link on the way, a folder only root may enter and a
// missing path all get one answer, and a folder the attacker can reach but does not own
// is not theirs to stage. Any old release signed by the team is a signed app of the
// allowed identity too: an older version, the same version of an older build, or a
// pre-release of the installed version is refused naming both. Modes inside a bundle are
// sealed, so a signed app with a group-writable entry is refused whole, and so is one
// with a set-ID file. Root reads a staged Info.plist only as a regular file of bounded
// size, never through a link: a link to an endless device, to a secret or to the
// installed app's own valid list, an oversized list, or a Contents folder that is a link
// all read as no bundle identifier, and at once; a FIFO is refused before anything is
// read. A refused request never relaunches, even the installed app.
TEST_F(LocalAttacker, RequestsForAnythingButTheAllowedAppAreRefused) {
    TeamKey other = makeTeamKey(folder_.path(), "TEAMB2");
    trustKeyForTeam(other.key, "TEAMB2");
    before_ = systemState();  // with the other team's key
    std::string staged = attackersApp("staged", "2.0");
    std::string old = attackersApp("old", "0.9", withBuild("7"));
    std::string olderBuild = attackersApp("build", "1.0", withBuild("3"));
    std::string preRelease = attackersApp("rc", "1.0-rc.1", withBuild("9"));
    std::string unsignedApp = buildBundle(attackerFolder() + "/unsigned", "Sample");
    std::string foreign = buildBundle(attackerFolder() + "/foreign", "Sample");
    signWithTeam(foreign, other);
    // Signed, but with a group-writable file or a set-user-ID one.
    SampleBundle newer;
    newer.extraInfo["CFBundleShortVersionString"] = "2.0";
    std::string shared = buildBundle(attackerFolder() + "/shared", "Sample", newer);
    writeFile(shared + "/Contents/Resources/notes.txt", "shared", 0664);
    ::chmod((shared + "/Contents/Resources/notes.txt").c_str(), 0664);
    signWithTeam(shared, *team_);
    platform::giveTreeToOwner(attackerFolder(), nobodyIdentifier, nobodyIdentifier);  // it refuses set-ID files
    std::string setID = buildBundle(attackerFolder() + "/setid", "Sample", newer);
    writeFile(setID + "/Contents/MacOS/tool", "#!/bin/sh\n", 04755);
    signWithTeam(setID, *team_);
    ASSERT_EQ(platform::runDiscardingOutput("/bin/chown", {"-R", "65534:65534", attackerFolder() + "/setid"}), 0);
    ::chmod((setID + "/Contents/MacOS/tool").c_str(), 04755);  // the change of owner cleared the bit
    std::string link = attackerFolder() + "/link.app";
    std::string viaLink = attackerFolder() + "/d/staged/Sample.app";
    auto naming = [&](const std::string& current, const std::string& team, const std::string& bundle, const std::string& path = "") {
        return PrivilegedUpdateRequest(current, path.empty() ? staged : path, bundle, team, "2.0-1", 0, true);
    };
    auto asking = [&](const std::string& path) { return naming(destination, "TEAMA1", "com.example.sample", path); };
    // Planted as the attacker, in the Contents folder of <attacker>/<name>/Sample.app.
    auto infoPlist = [&](const std::string& name, const std::string& refusal, std::function<void(const std::string&)> plant) {
        std::string app = attackerFolder() + "/" + name + "/Sample.app";
        return Refusal{asking(app), refusal, [app, plant] {
            platform::createDirectories(app + "/Contents");
            plant(app + "/Contents");
        }};
    };
    auto linkTo = [](const std::string& target) {
        return [target](const std::string& contents) { ::symlink(target.c_str(), (contents + "/Info.plist").c_str()); };
    };
    const std::string none = "Bundle identifier mismatch. Expected com.example.sample, got nil.";
    const std::string missing = attackerFolder() + "/none";
    const Refusal cases[] = {
        {asking(link), "App bundle does not exist at " + link + ".", [&] { ::symlink("/etc", link.c_str()); }},
        {naming(destination, "../TEAMA1", "com.example.sample"), "Requested team identifier is not allowed."},
        {naming(destination, "TEAMA1", "../../etc/passwd"), "Requested bundle identifier is not allowed."},
        {naming("/Applications/../etc/Sample.app", "TEAMA1", "com.example.sample"), "Destination /etc/Sample.app is not allowed."},
        {naming(link, "TEAMA1", "com.example.sample"), "Destination " + link + " is not allowed."},
        {naming("/Applications/./Sample.app/", "TEAMA1", "com.example.sample", missing), "App bundle does not exist at " + missing + "."},
        {naming("/Applications/Sub/../Sample.app", "TEAMA1", "com.example.sample", missing), "App bundle does not exist at " + missing + "."},
        {asking(viaLink), "App bundle does not exist at " + viaLink + ".", [&] { ::symlink(attackerFolder().c_str(), (attackerFolder() + "/d").c_str()); }},
        {asking(vault() + "/Sample.app"), "App bundle does not exist at " + vault() + "/Sample.app."},
        {asking(destination), std::string("The staged app at ") + destination + " does not belong to the requesting user."},
        {asking(old), "Staged version 0.9 (7) is older than the installed version 1.0 (5)."},
        {asking(olderBuild), "Staged version 1.0 (3) is older than the installed version 1.0 (5)."},
        {asking(preRelease), "Staged version 1.0-rc.1 (9) is older than the installed version 1.0 (5)."},
        {asking(shared), "Signature check failed: refused mode 0664 of " + shared + "/Contents/Resources/notes.txt"},
        {asking(setID), "Signature check failed: set-ID file " + setID + "/Contents/MacOS/tool"},
        {asking(unsignedApp), "Signature check failed: " + unsignedApp + ": code object is not signed at all\n"},
        {asking(foreign), "Team identifier mismatch. Expected TEAMA1, got TEAMB2."},
        infoPlist("fifo", "Signature check failed: " + attackerFolder() + "/fifo/Sample.app/Contents/Info.plist is a special file.",
                  [](const std::string& contents) { ::mkfifo((contents + "/Info.plist").c_str(), 0644); }),
        infoPlist("zero", none, linkTo("/dev/zero")),
        infoPlist("shadow", none, linkTo("/etc/shadow")),
        infoPlist("installed", none, linkTo(std::string(destination) + "/Contents/Info.plist")),
        infoPlist("large", none, [](const std::string& contents) { writeFile(contents + "/Info.plist", std::string(2 << 20, ' ')); }),
        infoPlist("linked", none, [](const std::string& contents) {
            platform::removeRecursively(contents);
            ::symlink((std::string(destination) + "/Contents").c_str(), contents.c_str());
        }),
    };
    std::string replies = runAsNobody([&] {
        std::string all;
        for (const auto& [request, refusal, plant] : cases) {
            plant();
            all += scheduleInstallReply(request) + "\n";
        }
        return all;
    });
    std::string expected;
    for (const auto& [request, refusal, plant] : cases) expected += refusal + "\n";
    EXPECT_EQ(replies, expected);
    expectInstalledAppIntact("refused requests");
    EXPECT_EQ(versionAt(destination), "1.0");
    EXPECT_FALSE(exists(folder_ / "markers/launched"));

    // An unsigned installed app refuses every request, however good the staged one is.
    platform::removeRecursively(destination);
    buildBundle("/Applications", "Sample");
    EXPECT_EQ(scheduleInstallReply(requestFor(signedApp(folder_ / "staged", "2.0"), "2.0-2")),
              "Signature check failed: /Applications/Sample.app: code object is not signed at all\n");
}

// One user has at most 8 installs in the helper at once, whichever requesting process
// each names (none, init, a negative number or its own): the rest are refused, and a
// request identical to one in the queue is answered as scheduled and not queued again.
// Only the requester's own process can hold its install back, and it holds back no one
// else's: naming pid 2 or the helper is refused, and a root client's install runs while
// the attacker's process lives on, after at most one of the attacker's queued installs,
// as users take turns. Once the requester has ended, a process that takes its number
// holds nothing: the held release, older by then, is refused when its turn comes. The
// gate holds the attacker's first queued install in the check of its copy until root
// has asked, so no install leaves the queue meanwhile, and the attacker cannot reach the
// copy in its holding folder.
TEST_F(LocalAttacker, OneUserHasAtMostEightInstallsPendingAndHoldsUpNoOtherInstall) {
    std::string staged = attackersApp("staged", "2.0");
    // An app that asked for its install and has not quit: the first of the user's 8.
    NobodyProcess held([&] { return scheduleInstallReply(requestFor(staged, "held", ::getpid())); }, {.keepRunning = true});
    EXPECT_EQ(held.result(), "Install scheduled.");
    ToolGate gate(platform::paths::codesign(), "*.copying/*");
    const std::string scheduled = "Install scheduled.";
    const std::string repeated = "Install already scheduled.";
    const std::string refused = "Too many installs are pending for this user.";
    const std::string notTheSender = " is not the process that sent the request.";
    const pid_t self = -1;  // stands for the attacker's own process, known only in the child
    const pid_t helperPid = helper_->pid();
    const struct {
        std::string update;
        pid_t requester;
        std::string reply;
    } requests[] = {
        {"a", 0, scheduled}, {"b", 1, scheduled}, {"c", -5, scheduled}, {"d", self, scheduled}, {"a", 0, repeated},
        {"e", 0, scheduled}, {"f", 1, scheduled}, {"g", -5, scheduled}, {"h", self, refused}, {"i", 0, refused},
        {"j", -5, refused}, {"d", self, repeated}, {"k", 2, "Requesting process 2" + notTheSender},
        {"l", helperPid, "Requesting process " + std::to_string(helperPid) + notTheSender},
    };
    std::string replies = runAsNobody([&] {
        std::string all;
        for (const auto& [update, requester, reply] : requests) {
            all += update + ": " + scheduleInstallReply(requestFor(staged, update, requester == self ? ::getpid() : requester)) + "\n";
        }
        // The copy being checked, the file the gate's codesign run was given.
        std::string copy;
        waitUntil([&] {
            for (const auto& name : platform::directoryEntries("/Applications")) {
                if (name.ends_with(".copying")) copy = "/Applications/" + name + "/Sample.app/Contents/Info.plist";
            }
            return !copy.empty();
        }, std::chrono::seconds(10));
        return all + (copy.empty() ? "no copy" : ::access(copy.c_str(), R_OK) != 0 ? "copy out of reach" : "copy read") + "\n";
    });
    std::string expected;
    for (const auto& [update, requester, reply] : requests) expected += update + ": " + reply + "\n";
    EXPECT_EQ(replies, expected + "copy out of reach\n");

    std::string v3 = signedApp(folder_ / "root3", "3.0");
    EXPECT_EQ(scheduleInstallReply(requestFor(v3, "3.0-root")), "Install scheduled.");
    gate.open();
    ASSERT_TRUE(waitForLogLine("installed update 3.0-root")) << helperLogMessages();
    std::string log = helperLogMessages();
    std::string outcomes;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("installed update ") || line.starts_with("install failed: ")) outcomes += line + "\n";
    }
    EXPECT_EQ(outcomes.substr(0, outcomes.find("installed update 3.0-root\n")), "installed update a\n") << log;
    EXPECT_EQ(versionAt(destination), "3.0");

    pid_t number = held.pid();
    held.end();
    // A process of root's under the freed number (it throws when another took it first).
    ChildProcess successor({"/bin/sleep", "600"}, "", -1, number);
    // The six queued after root's and the held one.
    std::string older = "install failed: Install failed: Staged version 2.0 (0) is older than the installed version 3.0 (0).\n";
    auto failures = [&] {
        std::string messages = helperLogMessages();
        std::size_t count = 0;
        for (std::size_t at = messages.find(older); at != std::string::npos; at = messages.find(older, at + 1)) ++count;
        return count;
    };
    EXPECT_TRUE(waitUntil([&] { return failures() == 7; }, std::chrono::seconds(60))) << helperLogMessages();
    EXPECT_EQ(versionAt(destination), "3.0");
}

// Client text reaches the log cut to a bounded length and with every control character
// and backslash escaped: huge paths cannot grow a line without bound, and escape
// sequences, line breaks or a literal "\n" cannot pass for anything but the client's
// own text, nor start a line of their own. The helper logs refusals under the limit of
// 20 a minute and a count of the rest; every client still gets its refusal.
TEST_F(LocalAttacker, RefusalsReachTheLogBoundedEscapedAndTwentyAMinute) {
    std::string huge = attackerFolder() + "/" + std::string(1000000, 'x');
    std::string tricky = attackerFolder() + "/\x1b[2J\\n\xc2\x85\n2026-01-01T00:00:00Z forged " + "end";
    std::string replies = runAsNobody([&] {
        std::string all = scheduleInstallReply(requestFor(tricky, "tricky")) + "\n";
        for (int request = 0; request < 30; ++request) all += scheduleInstallReply(requestFor(huge, "big")).substr(0, 28) + "\n";
        return all;
    });
    std::string expected = "App bundle does not exist at " + tricky + ".\n";
    for (int request = 0; request < 30; ++request) expected += "App bundle does not exist at\n";
    EXPECT_EQ(replies, expected);

    ASSERT_TRUE(waitForLogLine("end.")) << helperLogMessages();
    std::string log = readFile(testHelperLogPath);
    EXPECT_NE(log.find("/\\x1B[2J\\\\n\\xC2\\x85\\n2026-01-01T00:00:00Z forged end."), std::string::npos) << log.substr(0, 400);
    EXPECT_NE(log.find("bytes]"), std::string::npos);
    // Every minute's window holds at most 20 refusals, each window after the first
    // opening with a count of those left out before it. (A line broken or left whole by
    // the client's text shows in the two finds above.)
    std::size_t refusals = 0;
    std::size_t counts = 0;
    std::istringstream lines(helperLogMessages());
    for (std::string line; std::getline(lines, line);) {
        refusals += line.starts_with("rejected update: ");
        counts += line.find(" refusals from uid 65534") != std::string::npos;
    }
    EXPECT_GE(refusals, 20u);
    EXPECT_LE(refusals, 20 * (1 + counts)) << helperLogMessages();
    expectInstalledAppIntact("a flood of huge and tricky log text");
}

// The attacker owns the staged app and changes it after the check, while its own
// running process holds the install back: rewriting or growing a file, adding a 50 GiB
// sparse file, swapping a folder for a link out of the bundle, or swapping the whole
// app for a foreign one or its path for a link into a folder only root may enter. Root
// works only from the folder the attacker opened and copies no more than the check
// saw: the checked app installs, or the copy fails before writing, and the secret is
// never copied anywhere.
TEST_F(LocalAttacker, ChangesAfterTheCheckNeverInstallWhatWasNotVerifiedNorReachFurther) {
    std::string foreign = buildBundle(attackerFolder() + "/foreign", "Sample");  // unsigned
    platform::giveTreeToOwner(attackerFolder(), nobodyIdentifier, nobodyIdentifier);
    auto aside = [](const std::string& path) { return ::rename(path.c_str(), (path + ".aside").c_str()) == 0; };
    auto changedSinceTheCheck = [](const std::string& name) { return name + " is not what it was when the request was checked."; };
    const struct {
        std::string attack;
        std::function<void(const std::string&)> change;
        std::string outcome;  // in the log; "installed" for the checked app
    } attacks[] = {
        {"rewrites a file", [](const std::string& app) { writeFile(app + "/Contents/Resources/readme.txt", "evil"); },
         changedSinceTheCheck("readme.txt")},
        {"grows a file", [](const std::string& app) {
             int fd = ::open((app + "/Contents/Resources/readme.txt").c_str(), O_WRONLY | O_APPEND);
             [[maybe_unused]] auto written = ::write(fd, "more", 4);
             ::close(fd);
         }, changedSinceTheCheck("readme.txt")},
        {"adds a sparse giant", [](const std::string& app) {
             int fd = ::open((app + "/Contents/Resources/giant").c_str(), O_WRONLY | O_CREAT, 0644);
             [[maybe_unused]] int grown = ::ftruncate(fd, off_t{50} << 30);
             ::close(fd);
         }, changedSinceTheCheck("giant")},
        {"swaps a folder for a link", [&](const std::string& app) {
             if (aside(app + "/Contents/Resources")) ::symlink("/etc/autoupdatekit", (app + "/Contents/Resources").c_str());
         }, changedSinceTheCheck("Resources")},
        {"swaps the whole app", [&](const std::string& app) {
             if (aside(app)) ::rename(foreign.c_str(), app.c_str());
         }, "installed"},
        {"swaps the path for a link", [&](const std::string& app) {
             if (aside(app)) ::symlink((vault() + "/Sample.app").c_str(), app.c_str());
         }, "installed"},
    };
    int index = 0;
    for (const auto& [attack, change, outcome] : attacks) {
        std::string update = "2.0-" + std::to_string(++index);
        std::string staged = attackersApp("pub" + std::to_string(index), "2.0");
        ::chmod(staged.c_str(), 0777);  // an open top folder is installed closed
        NobodyProcess requester([&] { return scheduleInstallReply(requestFor(staged, update, ::getpid())); }, {.keepRunning = true});
        EXPECT_EQ(requester.result(), "Install scheduled.") << attack;
        EXPECT_EQ(runAsNobody([&] {
            change(staged);
            return std::string("changed");
        }), "changed") << attack;
        requester.end();
        EXPECT_TRUE(waitForLogLine(outcome == "installed" ? "installed update " + update : outcome)) << attack << ": " << helperLogMessages();
        EXPECT_EQ(platform::runCapturingOutput("/bin/grep", {"-rl", "root-only secret", "/Applications"}).bytes, "") << attack;
        expectInstalledAppIntact(attack);
        platform::removeRecursively(testHelperLogPath);
    }
    EXPECT_EQ(versionAt(destination), "2.0");
}

// What an attacker can make root spend is bounded. A staged tree 20,000 folders deep is
// refused at the check, before root copies or removes any of it, and the helper's memory
// stays within 32 MiB of what it was. The copy leaves a reserve free on the
// destination's file system, at least 512 MiB: on a 600 MiB /Applications with 100 MiB
// taken, an install fails before it writes anything, and goes through once there is
// room again.
TEST_F(LocalAttacker, ADeepStagedTreeAndAFullDiskCostRootNoMoreThanTheirBudgets) {
    auto residentKiB = [&] { return processStatusField(helper_->pid(), "VmRSS"); };
    TmpfsMount memory(attackerFolder() + "/deep", "mode=0777");  // a disk takes a minute for these folders
    ASSERT_TRUE(memory.mounted());
    std::string deep = attackersApp("deep", "2.0");
    long before = residentKiB();
    std::string reply = runAsNobody([&] {
        int folder = ::open((deep + "/Contents/Resources").c_str(), O_RDONLY | O_DIRECTORY);
        for (int level = 0; level < 20000 && folder >= 0; ++level) {
            int child = ::mkdirat(folder, "d", 0755) == 0 ? ::openat(folder, "d", O_RDONLY | O_DIRECTORY) : -1;
            ::close(folder);
            folder = child;
        }
        ::close(folder);
        return scheduleInstallReply(requestFor(deep, "2.0-deep"));
    });
    EXPECT_EQ(reply.rfind("Signature check failed: folders nested more than 512 deep in " + deep, 0), 0u) << reply;
    EXPECT_LT(residentKiB() - before, 32 * 1024);
    EXPECT_EQ(platform::runCapturingOutput("/bin/rm", {"-rf", deep}).status, 0);  // rm needs no descriptor per level
    expectInstalledAppIntact("a deep staged tree");

    std::string installed = signedApp(folder_ / "installed", "1.0");
    TmpfsMount small("/Applications", "mode=0755,size=600m");
    ASSERT_TRUE(small.mounted());
    ASSERT_EQ(platform::runCapturingOutput("/bin/cp", {"-a", installed, destination}).status, 0);
    int filler = ::open("/Applications/filler", O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(::posix_fallocate(filler, 0, off_t{100} << 20), 0);
    ::close(filler);
    std::string staged = attackersApp("staged", "2.0");
    EXPECT_EQ(runAsNobody([&] { return scheduleInstallReply(requestFor(staged, "2.0-full")); }), "Install scheduled.");
    EXPECT_TRUE(waitForLogLine("install failed: Install failed: Install failed: Not enough free space for /Applications/")) << helperLogMessages();
    EXPECT_EQ(versionAt(destination), "1.0");

    ::unlink("/Applications/filler");
    EXPECT_EQ(runAsNobody([&] { return scheduleInstallReply(requestFor(staged, "2.0-room")); }), "Install scheduled.");
    EXPECT_TRUE(waitForLogLine("installed update 2.0-room\n")) << helperLogMessages();
    EXPECT_EQ(versionAt(destination), "2.0");
}
