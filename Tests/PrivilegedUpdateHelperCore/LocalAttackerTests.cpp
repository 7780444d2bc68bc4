// An ordinary local user (uid 65534) against the real root helper: every attempt is
// refused or harmless, the installed app stays whole, root-owned and verifying, and
// nothing outside the allowed destination changes.

#include "AsUser.hpp"
#include "Files.hpp"
#include "HelperClient.hpp"
#include "HelperProcess.hpp"
#include "SigningKeys.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using autoupdatekit::PrivilegedUpdateRequest;

namespace {

constexpr const char* destination = "/Applications/Sample.app";

class LocalAttacker : public UpdaterEnvironment {
protected:
    void SetUp() override {
        UpdaterEnvironment::SetUp();
        platform::createDirectories("/Library/Logs");
        signedApp("/Applications", "1.0");
        platform::createDirectories(attackerFolder());
        platform::giveTreeToOwner(attackerFolder(), nobodyIdentifier, nobodyIdentifier);
        before_ = systemState();
        helper_ = std::make_unique<HelperProcess>();
    }

    void TearDown() override {
        helper_.reset();
        UpdaterEnvironment::TearDown();
    }

    std::string attackerFolder() const { return folder_ / "attacker"; }

    // A signed app at version, owned by the attacker.
    std::string attackersApp(const std::string& name, const std::string& version) {
        std::string app = signedApp(attackerFolder() + "/" + name, version);
        platform::giveTreeToOwner(attackerFolder() + "/" + name, nobodyIdentifier, nobodyIdentifier);
        return app;
    }

    static PrivilegedUpdateRequest requestFor(const std::string& staged, const std::string& update, const std::string& team = "TEAMA1",
                                              const std::string& bundle = "com.example.sample") {
        return PrivilegedUpdateRequest(destination, staged, bundle, team, update, 0, false);
    }

    // The reply's text as the attacker sees it.
    static std::string sendAsAttacker(const PrivilegedUpdateRequest& request) {
        auto outcome = scheduleInstallOnce(request);
        return outcome.reply ? outcome.reply->message() : "no reply: " + outcome.error;
    }

    // The system folders the helper may write to, with the install's own files left out.
    static std::string systemState() {
        std::string state;
        for (const char* folder : {"/Applications", "/Library", "/etc/autoupdatekit"}) {
            state += std::string(folder) + ":\n" + listTree(folder);
        }
        std::string withoutLog;
        std::size_t start = 0;
        while (start < state.size()) {
            std::size_t end = state.find('\n', start);
            std::string line = state.substr(start, end - start + 1);
            bool ours = line.rfind("Sample.app/", 0) == 0 || line.find("SamplePrivilegedUpdater.log") != std::string::npos;
            if (!ours) withoutLog += line;
            start = end + 1;
        }
        return withoutLog;
    }

    // Waits (bounded: 30 s) until the helper has logged how the update ended.
    static std::string outcomeOf(const std::string& update) {
        for (int attempt = 0; attempt < 600; ++attempt) {
            std::string log = helperLogMessages();
            if (log.find("installed update " + update + "\n") != std::string::npos) return "installed";
            if (log.find("install failed: ") != std::string::npos) return "failed";
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return "no outcome";
    }

    // The invariant every attack must keep.
    void expectInstalledAppIntact(const std::string& attack) {
        ASSERT_TRUE(exists(destination)) << attack;
        EXPECT_EQ(codesign({"--verify", "--deep", "--strict", destination}).status, 0) << attack;
        auto notRoot = platform::runCapturingOutput("/usr/bin/find", {destination, "!", "-user", "0", "-o", "!", "-group", "0"});
        EXPECT_EQ(notRoot.bytes, "") << attack;
        std::string version = versionAt(destination);
        EXPECT_TRUE(version == "1.0" || version == "2.0") << attack << ": " << version;
        EXPECT_EQ(systemState(), before_) << attack;
    }

    std::unique_ptr<HelperProcess> helper_;
    std::string before_;
};

}  // namespace

// Requests that name something else than the allowed app are refused before any file
// is read: links, "..", other teams, other identifiers, and text meant to forge log lines.
TEST_F(LocalAttacker, RequestsForAnythingButTheAllowedAppAreRefused) {
    std::string staged = attackersApp("staged", "2.0");
    std::string link = attackerFolder() + "/link.app";
    std::string replies = runAsNobody([&] {
        ::symlink("/etc", link.c_str());
        std::string all;
        for (const auto& request : {
                 requestFor(link, "2.0-1"),
                 requestFor(staged, "2.0-2", "../TEAMA1"),
                 requestFor(staged, "2.0-3", "TEAMA1", "../../etc/passwd"),
                 PrivilegedUpdateRequest("/Applications/../etc/Sample.app", staged, "com.example.sample", "TEAMA1", "2.0-4", 0, false),
                 PrivilegedUpdateRequest(link, staged, "com.example.sample", "TEAMA1", "2.0-5", 0, false),
             }) {
            all += sendAsAttacker(request) + "\n";
        }
        return all;
    });
    EXPECT_EQ(replies, "Bundle identifier mismatch. Expected com.example.sample, got nil.\n"
                       "Requested team identifier is not allowed.\n"
                       "Requested bundle identifier is not allowed.\n"
                       "Destination /etc/Sample.app is not allowed.\n"
                       "Destination " + link + " is not allowed.\n");

    // Line breaks in the fields the helper logs never make a line of their own.
    std::string forged = "2.0\n2026-01-01T00:00:00Z installed update forged";
    std::string reply = runAsNobody([&] { return sendAsAttacker(requestFor(staged + "\n/forged", forged)); });
    EXPECT_EQ(reply, "App bundle does not exist at " + staged + "\n/forged.");
    ASSERT_TRUE(waitForLogLine("/forged.")) << helperLogMessages();
    std::string log = readFile(testHelperLogPath);
    EXPECT_EQ(log.find("\n2026-01-01T00:00:00Z installed update forged"), std::string::npos) << log;
    for (std::size_t start = 0; start < log.size(); start = log.find('\n', start) + 1) {
        EXPECT_EQ(log.substr(start + 19, 2), "Z ") << log.substr(start, 80);
    }
    expectInstalledAppIntact("refused requests");
}

// The attacker owns the staged app and keeps changing it while the helper installs:
// rewriting a file, swapping a folder for a link out of the bundle, or swapping the
// whole app for a foreign one. The helper installs only what it verified as root.
TEST_F(LocalAttacker, ChangingTheStagedAppDuringTheInstallNeverInstallsWhatWasNotVerified) {
    std::string foreign = buildBundle(attackerFolder() + "/foreign", "Sample");  // unsigned
    platform::giveTreeToOwner(attackerFolder(), nobodyIdentifier, nobodyIdentifier);
    const std::pair<std::string, std::function<void(const std::string&, int)>> attacks[] = {
        {"rewrites a file", [](const std::string& app, int round) {
             int fd = ::open((app + "/Contents/Resources/readme.txt").c_str(), O_WRONLY | O_TRUNC);
             if (fd < 0) return;
             std::string text = "evil " + std::to_string(round);
             [[maybe_unused]] auto written = ::write(fd, text.data(), text.size());
             ::close(fd);
         }},
        {"swaps a folder for a link", [&](const std::string& app, int round) {
             std::string resources = app + "/Contents/Resources";
             std::string aside = attackerFolder() + "/aside-" + std::to_string(round);
             if (::rename(resources.c_str(), aside.c_str()) == 0) ::symlink("/etc/autoupdatekit", resources.c_str());
         }},
        {"swaps the whole app", [&](const std::string& app, int round) {
             std::string aside = attackerFolder() + "/whole-" + std::to_string(round);
             if (::rename(app.c_str(), aside.c_str()) == 0) ::rename((foreign).c_str(), app.c_str());
         }},
    };
    int index = 0;
    for (const auto& [attack, change] : attacks) {
        std::string update = "2.0-" + std::to_string(++index);
        std::string staged = attackersApp("staged" + std::to_string(index), "2.0");
        std::string reply = runAsNobody([&] {
            std::string answer = sendAsAttacker(requestFor(staged, update));
            // Keeps changing the app for a while after the helper accepted (bounded: 2 s).
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
                change(staged, round);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return answer;
        });
        EXPECT_EQ(reply, "Install scheduled.") << attack;
        std::string outcome = outcomeOf(update);
        EXPECT_NE(outcome, "no outcome") << attack;
        expectInstalledAppIntact(attack);
        platform::removeRecursively(testHelperLogPath);
    }
}

// While an install runs, nothing the helper makes beside the app is open to the
// attacker: neither the copy in progress nor a folder under the names it uses.
TEST_F(LocalAttacker, NothingTheInstallMakesCanBeWrittenOrPreparedByTheAttacker) {
    std::string staged = attackersApp("staged", "2.0");
    std::string result = runAsNobody([&] {
        std::string answer = sendAsAttacker(requestFor(staged, "2.0-1"));
        int written = 0;
        int attempts = 0;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < end) {
            // Pre-creating a backup or copy folder beside the app, or writing into one.
            for (const std::string name : {"/Applications/.Sample.autoupdate.backup.x.app", "/Applications/.Sample.autoupdate.x.app"}) {
                ++attempts;
                if (::mkdir(name.c_str(), 0777) == 0) ++written;
            }
            for (const auto& name : platform::directoryEntries("/Applications")) {
                ++attempts;
                std::string target = "/Applications/" + name + "/Contents/Resources/readme.txt";
                int fd = ::open(target.c_str(), O_WRONLY | O_APPEND);
                if (fd >= 0) {
                    ++written;
                    ::close(fd);
                }
            }
        }
        return answer + " " + std::to_string(written) + " succeeded of " + std::to_string(attempts);
    });
    EXPECT_EQ(result.rfind("Install scheduled. 0 succeeded of ", 0), 0u) << result;
    EXPECT_EQ(result.find(" of 0"), std::string::npos) << result;
    EXPECT_EQ(outcomeOf("2.0-1"), "installed");
    expectInstalledAppIntact("writes beside the app");
    EXPECT_EQ(versionAt(destination), "2.0");
}
