#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "AutoUpdateKit/AutoUpdateStatus.hpp"

#include "Files.hpp"
#include "LocalHTTPServer.hpp"
#include "ReleaseBuilder.hpp"
#include "SigningKeys.hpp"
#include "PrivateSystemPaths.hpp"
#include "TrustedCertificate.hpp"
#include "UpdateCheckFixture.hpp"

#include "Platform/Crypto.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/UserDefaults.hpp"

#include <chrono>
#include <cstdlib>
#include <unistd.h>

using namespace autoupdatekit;
using namespace testsupport;

namespace {

constexpr const char* suppressionKey = "AutoUpdateSuppressedUpdateIdentifier";

// Records an installed package that owns the folder in the dpkg database at
// /var/lib/dpkg (which the caller has made the namespace's own), as dpkg would.
void recordPackageOwning(const std::string& folder) {
    writeFile("/var/lib/dpkg/status", "Package: acme-sample\nStatus: install ok installed\nVersion: 1.0\nArchitecture: all\n"
                                      "Maintainer: Test <test@example.com>\nDescription: an app the package manager owns\n");
    writeFile("/var/lib/dpkg/info/acme-sample.list", folder + "\n");
}

// What autoupdatectl writes to standard error when that is a terminal (script(1) gives
// it one; standard output goes to /dev/null).
std::string terminalOutputOf(const std::string& arguments) {
    std::string command = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdatectl " + arguments + " >/dev/null";
    return platform::runCapturingOutput("/usr/bin/script", {"--quiet", "--return", "--command", command, "/dev/null"}).bytes;
}

}  // namespace

// A slow server (the archive trickles in) still delivers, and a digest in upper case is
// as good as one in lower case.
TEST_F(UpdateCheck, StagesAVerifiedUpdateAndFetchesTheManifestUncached) {
    Release release = publish({}, [](UpdateManifestPayload& payload) {
        for (char& c : payload.archiveSHA256) c = static_cast<char>(std::toupper(c));
    });
    server_.route("/Sample.zip", {200, readFile(release.archive), HTTPReply::Mode::trickle});
    EXPECT_EQ(outcome(manager()), stagedOutcome());

    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_EQ(requests[0].target.rfind("/manifest.json?channel=beta&_=", 0), 0u) << requests[0].target;
    EXPECT_LE(std::abs(std::stol(requests[0].target.substr(30)) - seconds), 60);  // room for a clock stepped meanwhile
    EXPECT_NE(requests[0].headers.find("Cache-Control: no-cache"), std::string::npos);
    EXPECT_NE(requests[0].headers.find("Pragma: no-cache"), std::string::npos);
    EXPECT_EQ(requests[1].target, "/Sample.zip");
    EXPECT_EQ(requests[1].headers.find("Cache-Control"), std::string::npos);

    // A second check replaces the first one's files.
    writeFile(staging() + "/Extracted/Sample.app/marker", "from the first check");
    EXPECT_EQ(outcome(manager()), stagedOutcome());
    EXPECT_FALSE(exists(staging() + "/Extracted/Sample.app/marker"));
}

TEST_F(UpdateCheck, StepsRunInOrderAndNothingIsDownloadedBeforeTheyPass) {
    // A bad signature is found before the version is read or the defaults touched.
    publish();
    defaults().set(suppressionKey, platform::PropertyValue("0.5-1"));
    auto wrongKey = platform::base64Encode(platform::Ed25519PrivateKey::generate().publicKey().raw());
    std::swap(publicKey_, wrongKey);
    EXPECT_EQ(outcome(manager()), "The update manifest signature is not valid.");
    std::swap(publicKey_, wrongKey);
    EXPECT_EQ(defaults().string(suppressionKey), "0.5-1");

    // Older version with a higher build, and equal versions and builds: up to date.
    publish({"0.9", "99"});
    EXPECT_EQ(outcome(manager()), "ok: up to date at 1.0 (1); server has 0.9 (99)");
    publish({"1.0", "1"});
    EXPECT_EQ(outcome(manager()), "ok: up to date at 1.0 (1); server has 1.0 (1)");
    EXPECT_EQ(defaults().string(suppressionKey), "0.5-1");

    // The suppressed update is up to date and keeps its key.
    publish({"1.0", "12"});
    defaults().set(suppressionKey, platform::PropertyValue("1.0-12"));
    EXPECT_EQ(outcome(manager()), "ok: up to date at 1.0 (1); server has 1.0 (12)");
    EXPECT_EQ(defaults().string(suppressionKey), "1.0-12");
    EXPECT_EQ(server_.requestCount("/Sample.zip"), 0u);

    // Another suppressed update is cleared (whatever its type) before the system check fails.
    defaults().set(suppressionKey, platform::PropertyValue(std::int64_t{7}));
    publish({"1.10", "1"}, [](UpdateManifestPayload& payload) { payload.minimumSystemVersion = "9999"; });
    EXPECT_EQ(outcome(manager()).rfind("The update requires macOS 9999, but this Mac is running macOS ", 0), 0u);
    EXPECT_EQ(defaults().object(suppressionKey), std::nullopt);
    EXPECT_EQ(server_.requestCount("/Sample.zip"), 0u);
}

// Every way the manifest can fail to arrive reaches the app as its own typed error, with
// the URL and the underlying text: offline, TLS, HTTP statuses, bytes that are no
// manifest, limits and breaks.
TEST_F(UpdateCheck, ManifestFailuresAreTypedErrorsWithTheURLAndTheDetail) {
    using Case = AutoUpdateError::Case;
    std::string configured = server_.url("/manifest.json?channel=beta");
    // Nothing listens on port 1; the https server's certificate is not the one trusted.
    const std::string unreachable = "http://127.0.0.1:1/manifest.json";
    TrustedCertificate untrusted;
    LocalHTTPServer secure(untrusted);
    TrustedCertificate trusted;
    struct Row {
        std::string url;
        HTTPReply reply;
        Case expected;
        std::string text;  // in the log description; " (" after a URL: a detail follows
    };
    const Row rows[] = {
        {configured, {404, "missing"}, Case::manifestRequestFailed, "The update manifest could not be loaded. HTTP 404: " + configured},
        {configured, {500, "broken"}, Case::manifestRequestFailed, "The update manifest could not be loaded. HTTP 500: " + configured},
        {configured, {204, ""}, Case::invalidManifest, "The update manifest could not be read. (The given data was not valid JSON"},
        {configured, {200, std::string(65536, ' '), HTTPReply::Mode::endless}, Case::transferFailed, "larger than 16777216 bytes"},
        {configured, {200, std::string(4096, '{'), HTTPReply::Mode::closeMidBody}, Case::transferFailed, "transfer closed"},
        {configured, {302, "", HTTPReply::Mode::normal, server_.url("/manifest.json")}, Case::transferFailed, "redirect"},
        {unreachable, {}, Case::serverUnreachable, "The update server could not be reached: " + unreachable + " ("},
        {secure.url("/manifest.json"), {}, Case::secureConnectionFailed,
         "A secure connection to the update server could not be made: " + secure.url("/manifest.json") + " ("},
    };
    for (const auto& row : rows) {
        server_.route("/manifest.json", row.reply);
        try {
            AutoUpdateManager(AutoUpdateConfiguration(*URL::parse(row.url), publicKey_, installed_, std::nullopt, "svc")).checkForUpdate();
            ADD_FAILURE() << "no failure: " << row.text;
        } catch (const AutoUpdateError& failure) {
            EXPECT_EQ(failure.errorCase(), row.expected) << failure.logDescription();
            EXPECT_NE(failure.logDescription().find(row.text), std::string::npos) << failure.logDescription().substr(0, 300);
        }
    }
    EXPECT_FALSE(exists(staging()));
}

TEST_F(UpdateCheck, ArchiveFailuresLeaveNoHalfWrittenFileTakenForAGoodOne) {
    Release release = publish();
    server_.route("/Sample.zip", {404, "gone"});
    EXPECT_EQ(outcome(manager()), "The update archive could not be downloaded. HTTP 404: " + server_.url("/Sample.zip"));
    EXPECT_EQ(listTree(staging()), "");

    publish({}, [](UpdateManifestPayload& payload) { payload.archiveSHA256 += "\n"; });
    std::string result = outcome(manager());
    EXPECT_EQ(result.rfind("The update archive hash does not match. Expected ", 0), 0u) << result;
    EXPECT_NE(result.find("\n, got "), std::string::npos);

    serveZip({{"Sample.app/Contents/Info.plist", ZipEntry::Kind::file, "x"}, {"../escape", ZipEntry::Kind::file, "x"}});
    result = outcome(manager());
    EXPECT_EQ(result.rfind("The update archive could not be extracted: ", 0), 0u) << result;
    EXPECT_NE(result.find("\"../escape\""), std::string::npos) << result;
    EXPECT_FALSE(exists(staging() + "/escape"));

    serveZip({{"Folder/Sample.app/Contents/Info.plist", ZipEntry::Kind::file, "x"}});
    EXPECT_EQ(outcome(manager()), "The update archive did not contain an app bundle.");

    // Damaged before it was published (so its digest matches): a clear error, at
    // extraction or at the check of the app's seal, never an update ready.
    std::string archive = readFile(release.archive);
    std::string flipped = archive;
    flipped[flipped.size() / 3] = static_cast<char>(flipped[flipped.size() / 3] ^ 0x5a);
    for (const std::string& damaged : {flipped, archive.substr(0, archive.size() / 2)}) {
        serveArchive(damaged);
        result = outcome(manager());
        bool clear = result.rfind("The update archive could not be extracted: ", 0) == 0 ||
                     result.rfind("The update app's code signature is not valid. (Staged app signature check failed: ", 0) == 0;
        EXPECT_TRUE(clear) << result;
    }
}

TEST_F(UpdateCheck, TheAppIsFoundByListingAndMustCarryTheIdentifierAndSignature) {
    publish({"2.0", "2", "com.example.sample", "Other"}, [](UpdateManifestPayload& payload) { payload.appName = "Sample"; });
    EXPECT_EQ(outcome(manager()), stagedOutcome("Other"));

    publish({"2.0", "2", "com.example.Sample"}, [](UpdateManifestPayload& payload) { payload.bundleIdentifier = "com.example.sample"; });
    EXPECT_EQ(outcome(manager()),
              "The update app bundle identifier does not match. Expected com.example.sample, got com.example.Sample.");

    // A file under the expected name is what the archive offers; it is no bundle at all.
    std::string anotherInfo = platform::PropertyList::xml(platform::PropertyValue(platform::PropertyDictionary{{"CFBundleIdentifier", "com.example.sample"}}));
    serveZip({{"Sample.app", ZipEntry::Kind::file, "x"}, {"Another.app/Contents/Info.plist", ZipEntry::Kind::file, anotherInfo}});
    EXPECT_EQ(outcome(manager()), "The update app bundle identifier does not match. Expected com.example.sample, got nil.");
}

// A defaults file that does not parse holds no suppressed update: the check goes on,
// says so once, and leaves the file as it is.
TEST_F(UpdateCheck, AnUnreadableDefaultsFileNeitherBlocksUpdatesNorIsTouched) {
    std::string file = defaults().filePath();
    writeFile(file, "<plist><dict><key>AutoUpdateSuppressedUpdateIdentifier</key>");
    publish();
    std::vector<std::string> lines;
    AutoUpdateCheckOptions options;
    options.log = [&](const std::string& line) { lines.push_back(line); };
    auto result = manager().checkForUpdate(options);
    EXPECT_EQ("ok: " + result.logDescription(), stagedOutcome());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("AutoUpdateKit: " + file + ": ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("left as it is"), std::string::npos) << lines[0];
    EXPECT_EQ(readFile(file), "<plist><dict><key>AutoUpdateSuppressedUpdateIdentifier</key>");
}

// An Info.plist that does not parse configures nothing, as an empty one would.
TEST_F(UpdateCheck, AnInfoPlistThatDoesNotParseMeansNotConfigured) {
    writeFile(installed_ + "/Contents/MacOS/Sample", readFile(std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/DemoApp"), 0755);
    writeFile(installed_ + "/Contents/Info.plist", "<plist><dict><key>AutoUpdateManifestURL</key>");
    auto checked = platform::runCapturingOutput(installed_ + "/Contents/MacOS/Sample", {"check"});
    EXPECT_EQ(checked.status, 0);
    EXPECT_EQ(checked.bytes, "AutoUpdateKit: no manifest URL/public key configured; skipping check.\n");
}

TEST_F(UpdateCheck, HostileManifestValuesCannotReachOutsideTheStagingDirectory) {
    // A staging directory holding files of the user's own is never emptied.
    writeFile(staging() + "/my-notes.txt", "keep me");
    writeFile(staging() + "/holiday.jpg", "keep me too");
    publish();
    std::string result = outcome(manager());
    EXPECT_NE(result.find("which the updater did not put there"), std::string::npos) << result;
    EXPECT_EQ(readFile(staging() + "/my-notes.txt"), "keep me");
    platform::removeRecursively(staging());

    for (const std::string name : {"../outside.zip", "", ".", "..", "Extracted", "a/b.zip"}) {
        writeFile(staging() + "/Sample-2.0.zip", "earlier archive");
        publish({}, [&](UpdateManifestPayload& payload) { payload.archiveFileName = name; });
        result = outcome(manager());
        EXPECT_NE(result.find("invalid archive file name \"" + name + "\""), std::string::npos) << result;
        EXPECT_EQ(readFile(staging() + "/Sample-2.0.zip"), "earlier archive");
    }

    // A staging path that is a link: only the link goes, never what it points at.
    platform::removeRecursively(staging());
    writeFile(folder_ / "elsewhere/precious", "keep me");
    ASSERT_EQ(::symlink((folder_ / "elsewhere").c_str(), staging().c_str()), 0);
    publish();
    EXPECT_EQ(outcome(manager()), stagedOutcome());
    EXPECT_EQ(readFile(folder_ / "elsewhere/precious"), "keep me");

    // An appName that climbs out is not used as a path.
    writeFile(folder_ / "cache/com.example.sample/Trap.app/Contents/Info.plist", "x");
    publish({}, [](UpdateManifestPayload& payload) { payload.appName = "../../Trap"; });
    EXPECT_EQ(outcome(manager()), stagedOutcome());
}

// autoupdatectl check exits 3 with the staged update, 0 up to date and 1 on a failure;
// its scheduled check honours the skipped release where a manual one does not, and its
// status shows what the client keeps. On a terminal it draws the download's progress on
// standard error: bytes, rate and time left. With --json, or with standard error not a
// terminal, it draws none.
TEST_F(UpdateCheck, AutoupdatectlReportsWhatTheFeedWouldDoShowsTheStatusAndProgressOnATerminalOnly) {
    configureInstalledApp();
    publish();
    std::string drawn = terminalOutputOf("check " + installed_);
    EXPECT_NE(drawn.find("] 100% "), std::string::npos) << drawn;
    EXPECT_NE(drawn.find(" MiB/s  0:00 left"), std::string::npos) << drawn;
    // Each check downloads again, else there would be no progress to draw.
    platform::removeRecursively(staging());
    std::string json = terminalOutputOf("check --json " + installed_);
    EXPECT_NE(json.find("update 2.0 (2) staged"), std::string::npos) << json;
    EXPECT_EQ(json.find("MiB/s"), std::string::npos) << json;
    platform::removeRecursively(staging());
    auto ready = autoupdatectl({"check", installed_});
    EXPECT_EQ(ready.status, 3) << ready.bytes;
    EXPECT_NE(ready.bytes.find("update 2.0 (2) staged at " + staging() + "/Extracted/Sample.app"), std::string::npos) << ready.bytes;
    EXPECT_EQ(ready.bytes.find("MiB/s"), std::string::npos) << ready.bytes;

    // The user skips 2.0: the choice is kept for the scheduled checks.
    auto result = manager().checkForUpdate();
    const auto* offered = std::get_if<AutoUpdateCheckResult::UpdateReady>(&result.value);
    ASSERT_NE(offered, nullptr) << result.logDescription();
    std::vector<std::string> lines;
    auto skip = [](const AutoUpdateCandidate&) { return AutoUpdateDecision::skipThisVersion; };
    auto log = [&](const std::string& line) { lines.push_back(line); };
    EXPECT_EQ(AutoUpdateManager::decideAndAct(offered->candidate, configuration(), {.log = log, .consent = skip}), AutoUpdateDecision::skipThisVersion);
    EXPECT_EQ(lines, std::vector<std::string>{"AutoUpdateKit: update 2.0 (2): the app decided skipThisVersion"});

    // Passed over by a scheduled check before anything is downloaded or a suppression
    // cleared.
    defaults().set("AutoUpdateSuppressedUpdateIdentifier", platform::PropertyValue("1.5-1"));
    std::size_t downloads = server_.requestCount("/Sample.zip");
    auto passed = autoupdatectl({"check", "--scheduled", installed_});
    EXPECT_EQ(passed.status, 0) << passed.bytes;
    EXPECT_NE(passed.bytes.find("AutoUpdateKit: update 2.0 (2) skipped by the user"), std::string::npos) << passed.bytes;
    EXPECT_EQ(server_.requestCount("/Sample.zip"), downloads);
    EXPECT_EQ(defaults().string("AutoUpdateSuppressedUpdateIdentifier"), "1.5-1");
    defaults().removeObject("AutoUpdateSuppressedUpdateIdentifier");
    defaults().set("AutoUpdateRolloutGroup", platform::PropertyValue(4));
    auto shown = autoupdatectl({"status", installed_});
    EXPECT_EQ(shown.status, 0) << shown.bytes;
    std::string expected = "last check:        " + *defaults().string("AutoUpdateLastCheckTime") + "\n" +
                           "skipped version:   2.0-2\n"
                           "rollout group:     4\n"
                           "suppressed update: none\n"
                           "staged:            " + staging() + "/Sample-2.0.zip\n" +
                           "                   " + staging() + "/Extracted/Sample.app\n";
    EXPECT_EQ(shown.bytes, expected);

    // A manual check still stages it, and a newer release is offered again.
    EXPECT_EQ(autoupdatectl({"check", installed_}).status, 3);
    publish({"2.1", "3"});
    EXPECT_EQ(autoupdatectl({"check", "--scheduled", installed_}).status, 3);

    publish({"1.0", "1"});
    EXPECT_EQ(autoupdatectl({"check", installed_}).status, 0);

    server_.route("/manifest.json", {200, "not json"});
    auto failed = autoupdatectl({"check", installed_});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.bytes.find("not valid JSON"), std::string::npos) << failed.bytes;
}

// An app that a package of the system's package manager owns is the package manager's to
// update: the check says so and fetches nothing. A machine without dpkg has no such app.
TEST_F(UpdateCheck, AnAppThePackageManagerOwnsIsNeverUpdated) {
    TmpfsMount database("/var/lib/dpkg", "mode=0755");
    ASSERT_TRUE(database.mounted());
    recordPackageOwning(installed_);
    publish();
    EXPECT_EQ(outcome(manager()), installed_ + " is managed by the system package manager (package acme-sample); it is "
                                               "updated through the package manager, never by the updater.");
    EXPECT_EQ(server_.requestCount("/Sample.zip"), 0u);
    EXPECT_EQ(versionAt(installed_), "1.0");

    TmpfsMount withoutDpkg("/usr/bin", "mode=0755");
    ASSERT_TRUE(withoutDpkg.mounted());
    EXPECT_EQ(outcome(manager()), stagedOutcome());
}

// A release that lists a delta from the installed version is rebuilt from it, and the
// archive is never fetched (nor the delta again at the next check); a delta that no
// longer fits the installed app falls back to the archive in the same check, leaving
// nothing of itself.
TEST_F(UpdateCheck, AnUpdateIsRebuiltFromADeltaOrFallsBackToTheArchive) {
    Release release = publish();
    const std::string delta = publishDelta(release, installed_);
    std::string logged;
    AutoUpdateCheckOptions options;
    options.log = [&](const std::string& line) { logged += line + "\n"; };
    std::string size = std::to_string(delta.size());
    std::string fromDelta = stagedOutcome() + " from a delta of " + size + " bytes (" +
                            std::to_string(release.payload.archiveSize - static_cast<std::int64_t>(delta.size())) + " bytes less than the archive)";
    EXPECT_EQ(outcome(manager(), options), fromDelta);
    EXPECT_EQ(codesign({"--verify", "--deep", "--strict", staging() + "/Extracted/Sample.app"}).status, 0);
    EXPECT_EQ(AutoUpdateStatus::of(configuration()).stagedFromDelta, "2.0-2: " + size + " of " + std::to_string(release.payload.archiveSize) + " bytes");
    // Put off: the next check rebuilds from the delta it kept, fetching nothing.
    EXPECT_EQ(outcome(manager(), options), fromDelta);
    EXPECT_EQ(server_.requestCount("/Sample.delta"), 1u);
    EXPECT_EQ(server_.requestCount("/Sample.zip"), 0u);
    EXPECT_NE(logged.find("using the delta downloaded before"), std::string::npos) << logged;
    EXPECT_EQ(logged.find("could not be used"), std::string::npos) << logged;

    platform::removeRecursively(staging());
    writeFile(installed_ + "/Contents/Resources/notes.txt", "added by the user");
    EXPECT_EQ(outcome(manager(), options), stagedOutcome());
    EXPECT_EQ(server_.requestCount("/Sample.zip"), 1u);
    EXPECT_NE(logged.find("could not be used"), std::string::npos) << logged;
    EXPECT_FALSE(exists(staging() + "/update.delta"));
    EXPECT_EQ(AutoUpdateStatus::of(configuration()).stagedFromDelta, std::nullopt);
}

// The highest sequence accepted is kept: a lower one is refused later, the same one not.
TEST_F(UpdateCheck, AManifestBelowTheAcceptedSequenceIsRefused) {
    Release release = publish();
    ManifestExtension extension;
    extension.expires = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) + std::chrono::hours(24);
    for (std::int64_t sequence : {5, 4, 5}) {
        extension.sequence = sequence;
        serveManifest(release.payload, extension);
        EXPECT_EQ(outcome(manager()), sequence == 5 ? stagedOutcome()
                                                    : "The update manifest is older than one already accepted. (sequence 4, accepted 5)");
    }
}
