// Scheduled checks: phased rollout, critical releases, the scheduler's timing, lock
// and stop (the skipped release is checked with autoupdatectl).

#include "BundleBuilder.hpp"
#include "CheckLock.hpp"
#include "Files.hpp"
#include "ChildProcess.hpp"
#include "UpdateCheckFixture.hpp"
#include "WaitUntil.hpp"

#include "AutoUpdateKit/AutoUpdateScheduler.hpp"

#include "Platform/Identifiers.hpp"

#include <algorithm>
#include <mutex>
#include <thread>

using namespace autoupdatekit;
using namespace testsupport;

namespace {

// Log lines from any thread.
class LogLines {
public:
    std::function<void(const std::string&)> recorder() {
        return [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(lock_);
            lines_.push_back(line);
        };
    }
    std::size_t count(const std::string& text) {
        std::lock_guard<std::mutex> guard(lock_);
        return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& line) { return line.find(text) != std::string::npos; }));
    }
    // Waits (bounded: 15 s) until the text was logged so many times.
    bool waitFor(const std::string& text, std::size_t times = 1) {
        return waitUntil([&] { return count(text) >= times; }, std::chrono::seconds(15));
    }

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

// Checks every interval, the first time at once unless one ran within the interval.
AutoUpdateCheckTiming every(int seconds) { return {std::chrono::seconds(seconds), std::chrono::seconds(0)}; }

AutoUpdateCheckOptions scheduled(LogLines& lines) {
    AutoUpdateCheckOptions options;
    options.log = lines.recorder();
    options.scheduled = true;
    return options;
}

std::chrono::sys_seconds hoursFromNow(int hours) {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) + std::chrono::hours(hours);
}

}  // namespace

// The app's channel ("AutoUpdateChannel") picks the release: a beta app gets beta's
// critical release, offered whatever the user skipped or the rollout phase say; the
// consent learns it is critical, and an answer of later installs it when the app quits
// (in a child, which ends without running its exit handlers). A stable app gets 2.0.
TEST_F(UpdateCheck, ACriticalReleaseOfTheAppsChannelOverridesSkipRolloutAndLater) {
    Release stable = publish();
    Release beta = makeRelease(folder_ / "beta", *team_, server_.url("/Beta.zip"), {.version = "2.1-beta.1", .build = "3"});
    server_.route("/Beta.zip", {200, readFile(beta.archive)});
    ManifestExtension extension;
    ManifestRelease critical{{}, beta.payload};
    critical.critical = CriticalUpdate{"1.1"};
    extension.channels.emplace("beta", critical);
    serveManifest(stable.payload, extension);
    configureInstalledApp();
    defaults().set("AutoUpdateChannel", platform::PropertyValue("beta"));
    defaults().set("AutoUpdateSkippedVersion", platform::PropertyValue("2.1-beta.1-3"));
    defaults().set("AutoUpdatePhasedRolloutInterval", platform::PropertyValue(3600));
    defaults().set("AutoUpdateRolloutGroup", platform::PropertyValue(6));
    LogLines lines;
    auto result = AutoUpdateManager(AutoUpdateConfiguration::fromAppOrUserDefaults(installed_).value()).checkForUpdate(scheduled(lines));
    const auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&result.value);
    ASSERT_TRUE(ready && ready->candidate.critical) << result.logDescription();
    EXPECT_EQ("ok: " + result.logDescription(), stagedOutcome("Sample", "2.1-beta.1 (3)"));
    NobodyProcess child([&] {
        auto later = [](const AutoUpdateCandidate&) { return AutoUpdateDecision::later; };
        return rawValue(AutoUpdateManager::decideAndAct(ready->candidate, configuration(), {.consent = later}));
    }, {.asNobody = false});
    EXPECT_EQ(child.result(std::chrono::seconds(30)), "installOnQuit");
    defaults().set("AutoUpdateChannel", platform::PropertyValue("stable"));
    EXPECT_EQ(outcome(AutoUpdateManager(AutoUpdateConfiguration::fromAppOrUserDefaults(installed_).value())), stagedOutcome());
}

// Group g is offered a release from its date plus g intervals (group 0 from its date
// on; without an interval nothing is phased); the interval may be decimal text, a
// missing or unusable group is drawn once and kept, and manual checks are never held
// back.
TEST_F(UpdateCheck, PhasedRolloutHoldsAReleaseBackForLaterGroupsOnly) {
    defaults().set("AutoUpdatePhasedRolloutInterval", platform::PropertyValue("3600"));
    defaults().set("AutoUpdateRolloutGroup", platform::PropertyValue(3));
    LogLines lines;
    publish({}, [](UpdateManifestPayload& payload) { payload.releaseDate = hoursFromNow(-2); });
    EXPECT_EQ(outcome(manager(), scheduled(lines)), "ok: up to date at 1.0 (1); server has 2.0 (2)");
    EXPECT_EQ(lines.count("AutoUpdateKit: update 2.0 (2) is offered to rollout group 3 from " + platform::iso8601UTC(hoursFromNow(1))), 1u);
    EXPECT_EQ(server_.requestCount("/Sample.zip"), 0u);
    EXPECT_EQ(outcome(manager()), stagedOutcome());

    struct Row {
        platform::PropertyValue interval;
        std::int64_t group;
        int releasedHoursAgo;
    };
    const Row rows[] = {{"3600", 3, 4}, {"3600", 0, 1}, {0, 6, -1}};
    for (const auto& row : rows) {
        defaults().set("AutoUpdatePhasedRolloutInterval", row.interval);
        defaults().set("AutoUpdateRolloutGroup", platform::PropertyValue(row.group));
        publish({}, [&](UpdateManifestPayload& payload) { payload.releaseDate = hoursFromNow(-row.releasedHoursAgo); });
        EXPECT_EQ(outcome(manager(), scheduled(lines)), stagedOutcome()) << row.group;
    }

    defaults().set("AutoUpdatePhasedRolloutInterval", platform::PropertyValue("3600"));
    for (const platform::PropertyValue& unusable : {platform::PropertyValue(9), platform::PropertyValue("three")}) {
        defaults().set("AutoUpdateRolloutGroup", unusable);
        outcome(manager(), scheduled(lines));
        auto drawn = defaults().object("AutoUpdateRolloutGroup");
        const auto* group = drawn ? drawn->getIf<std::int64_t>() : nullptr;
        std::int64_t kept = group != nullptr ? *group : -1;
        EXPECT_GE(kept, 0);
        EXPECT_LE(kept, 6);
        outcome(manager(), scheduled(lines));
        EXPECT_EQ(defaults().object("AutoUpdateRolloutGroup"), platform::PropertyValue(kept));
    }
}

// The configured interval is read like every key (defaults first, numbers as text too)
// and never taken under an hour.
TEST_F(UpdateCheck, TheCheckIntervalIsReadLikeEveryKeyAndNeverUnderAnHour) {
    EXPECT_EQ(AutoUpdateScheduler::configuredInterval(configuration()), std::chrono::seconds(86400));
    setInfoValues(installed_, {{"AutoUpdateCheckInterval", 5000}});
    EXPECT_EQ(AutoUpdateScheduler::configuredInterval(configuration()), std::chrono::seconds(5000));
    for (const auto& [value, seconds] : {std::pair<std::string, int>{"", 5000}, {"7200", 7200}, {"60", 3600}}) {
        defaults().set("AutoUpdateCheckInterval", platform::PropertyValue(value));
        EXPECT_EQ(AutoUpdateScheduler::configuredInterval(configuration()), std::chrono::seconds(seconds)) << value;
    }
}

// The scheduler checks again and again on its interval, keeps the time of each check,
// hands a ready update to the consent, and waits out the interval after a recent check.
// An update the user put off is downloaded once: later checks take the staged archive
// again while it still hashes to the signed digest, and download it again when not.
TEST_F(UpdateCheck, TheSchedulerChecksOnItsIntervalKeepsTheTimeAndReusesTheDownload) {
    publish();
    LogLines lines;
    std::atomic<int> asked = 0;
    std::atomic<int> reused = 0;
    auto later = [&](const AutoUpdateCandidate& candidate) {
        ++asked;
        if (candidate.reusedDownload) ++reused;
        return AutoUpdateDecision::later;
    };
    {
        AutoUpdateScheduler scheduler(configuration(), {.log = lines.recorder(), .consent = later}, every(1));
        scheduler.start();
        EXPECT_TRUE(lines.waitFor("the app decided later", 2));
    }
    EXPECT_GE(asked.load(), 2);
    EXPECT_EQ(reused.load(), asked.load() - 1);
    EXPECT_EQ(server_.requestCount("/Sample.zip"), 1u);
    EXPECT_GE(lines.count("AutoUpdateKit: using the update 2.0-2 downloaded before"), 1u);
    std::string archive = readFile(staging() + "/Sample-2.0.zip");
    archive[archive.size() / 2] = static_cast<char>(archive[archive.size() / 2] ^ 1);
    writeFile(staging() + "/Sample-2.0.zip", archive);
    EXPECT_EQ(outcome(manager()), stagedOutcome());
    EXPECT_EQ(server_.requestCount("/Sample.zip"), 2u);

    // A consent that throws is the app's own failure: logged, and the scheduler checks on.
    {
        auto throwing = [](const AutoUpdateCandidate&) -> AutoUpdateDecision { throw std::runtime_error("no window to ask in"); };
        AutoUpdateScheduler scheduler(configuration(), {.log = lines.recorder(), .consent = throwing}, every(1));
        scheduler.start();
        EXPECT_TRUE(lines.waitFor("AutoUpdateKit: no window to ask in", 2));
    }
    auto kept = defaults().string("AutoUpdateLastCheckTime");
    ASSERT_TRUE(kept);
    auto when = platform::parseISO8601(*kept);
    ASSERT_TRUE(when);
    EXPECT_LE(std::chrono::abs(*when - std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())), std::chrono::minutes(1));

    // A check a moment ago: the first one waits for the interval, not the delay.
    std::size_t manifests = server_.requestCount("/manifest.json");
    {
        AutoUpdateScheduler scheduler(configuration(), {.log = lines.recorder(), .consent = later}, every(3600));
        scheduler.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    EXPECT_EQ(server_.requestCount("/manifest.json"), manifests);
}

// Turned off, the scheduler checks nothing; a check is skipped while another of the
// same app holds the lock, and one cancelled before it starts asks the server nothing;
// stopping cancels a check in flight, leaving no partial file.
TEST_F(UpdateCheck, TheSchedulerStaysOffYieldsToAnotherCheckAndStopsACheckInFlight) {
    publish();
    LogLines lines;
    defaults().set("AutoUpdateAutomaticChecks", platform::PropertyValue("false"));
    {
        AutoUpdateScheduler scheduler(configuration(), {.log = lines.recorder()}, every(1));
        scheduler.start();
        EXPECT_TRUE(lines.waitFor("AutoUpdateKit: automatic checks are turned off."));
    }
    EXPECT_EQ(server_.requests().size(), 0u);
    defaults().removeObject("AutoUpdateAutomaticChecks");

    {
        CheckLock other(platform::FileURL(configuration().stagingDirectory));
        ASSERT_TRUE(other.held());
        EXPECT_EQ(AutoUpdateScheduler::runScheduledCheck(configuration(), scheduled(lines)), std::nullopt);
        EXPECT_EQ(lines.count("another update check of this app is running; this one is skipped."), 1u);
        EXPECT_EQ(server_.requests().size(), 0u);
    }
    AutoUpdateCheckOptions cancelled;
    cancelled.cancellation.cancel();
    EXPECT_EQ(outcome(manager(), cancelled), "The update check was cancelled.");
    EXPECT_EQ(server_.requests().size(), 0u);

    publishSlowly();
    {
        AutoUpdateScheduler scheduler(configuration(), {.log = lines.recorder()}, every(3600));
        scheduler.start();
        ASSERT_TRUE(waitUntil([this] { return server_.requestCount("/Sample.zip") > 0; }, std::chrono::seconds(10)));
        ASSERT_EQ(server_.requestCount("/Sample.zip"), 1u);
        scheduler.stop();
    }
    EXPECT_EQ(lines.count("AutoUpdateKit: The update check was cancelled."), 1u);
    EXPECT_EQ(listTree(staging()), "");
    EXPECT_EQ(defaults().object("AutoUpdateLastCheckTime"), std::nullopt);
}
