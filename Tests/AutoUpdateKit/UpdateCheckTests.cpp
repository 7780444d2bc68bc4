#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "AutoUpdateKit/AutoUpdateStatus.hpp"

#include "Files.hpp"
#include "LocalHTTPServer.hpp"
#include "ReleaseBuilder.hpp"
#include "SigningKeys.hpp"
#include "TmpfsMount.hpp"
#include "TrustedCertificate.hpp"
#include "UpdateCheckFixture.hpp"
#include "ZipMaker.hpp"

#include "Platform/Crypto.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/UserDefaults.hpp"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace autoupdatekit;
using namespace testsupport;

namespace {

constexpr const char* suppressionKey = "AutoUpdateSuppressedUpdateIdentifier";

// Builds a package that owns the folder (an empty one: the files stay the test's) and
// installs it with dpkg into the database at /var/lib/dpkg, which the caller has made
// the namespace's own.
void installPackageOwning(const std::string& folder, const std::string& work) {
    writeFile(work + "/root/DEBIAN/control",
              "Package: acme-sample\nVersion: 1.0\nArchitecture: all\nMaintainer: Test <test@example.com>\n"
              "Description: an app the package manager owns\n");
    platform::createDirectories(work + "/root" + folder);
    auto built = platform::runCapturingOutput("/usr/bin/dpkg-deb", {"--root-owner-group", "--build", work + "/root", work + "/sample.deb"});
    ASSERT_EQ(built.status, 0) << built.bytes;
    platform::createDirectories("/var/lib/dpkg/info");
    writeFile("/var/lib/dpkg/status", "");
    auto installed = platform::runCapturingOutput("/usr/bin/dpkg", {"--log=" + work + "/dpkg.log", "--install", work + "/sample.deb"});
    ASSERT_EQ(installed.status, 0) << installed.bytes;
}

// What the tool writes to standard error when that is a terminal (standard output goes
// to /dev/null). Reads for 30 s at most.
std::string terminalOutputOf(const std::string& tool, const std::vector<std::string>& arguments) {
    int terminal = -1;
    int side = -1;
    if (::openpty(&terminal, &side, nullptr, nullptr, nullptr) != 0) return "openpty failed";
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(side, STDERR_FILENO);
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        std::vector<char*> argv{const_cast<char*>(tool.c_str())};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(side);
    std::string output;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char buffer[4096];
    pollfd entry{terminal, POLLIN, 0};
    while (std::chrono::steady_clock::now() < deadline && ::poll(&entry, 1, 1000) >= 0) {
        ssize_t count = ::read(terminal, buffer, sizeof buffer);
        if (count > 0) output.append(buffer, static_cast<std::size_t>(count));
        else if (count < 0 && errno != EAGAIN && errno != EINTR) break;  // EIO: the tool has ended
    }
    ::close(terminal);
    ::waitpid(child, nullptr, 0);
    return output;
}

}  // namespace

TEST_F(UpdateCheck, StagesAVerifiedUpdateAndFetchesTheManifestUncached) {
    publish({}, [](UpdateManifestPayload& payload) {
        for (char& c : payload.archiveSHA256) c = static_cast<char>(std::toupper(c));
    });
    auto result = manager().checkForUpdate();
    auto* ready = std::get_if<AutoUpdateCheckResult::UpdateReady>(&result.value);
    ASSERT_NE(ready, nullptr) << result.logDescription();
    EXPECT_EQ(ready->candidate.archivePath, staging() + "/Sample-2.0.zip");
    EXPECT_EQ(ready->candidate.extractedAppPath, staging() + "/Extracted/Sample.app");
    EXPECT_EQ(listTree(staging()).substr(0, 31), "Extracted\nExtracted/Sample.app\n");
    EXPECT_NE(listTree(staging()).find("\nSample-2.0.zip\n"), std::string::npos);

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
    struct Row {
        HTTPReply reply;
        Case expected;
        std::string text;
    };
    const Row rows[] = {
        {{404, "missing"}, Case::manifestRequestFailed, "The update manifest could not be loaded. HTTP 404: " + configured},
        {{500, "broken"}, Case::manifestRequestFailed, "The update manifest could not be loaded. HTTP 500: " + configured},
        {{204, ""}, Case::invalidManifest, "The update manifest could not be read. (The given data was not valid JSON"},
        {{200, std::string(17 * 1024 * 1024, ' '), HTTPReply::Mode::chunked}, Case::transferFailed, "larger than 16777216 bytes"},
        {{200, std::string(4096, '{'), HTTPReply::Mode::closeMidBody}, Case::transferFailed, "transfer closed"},
        {{302, "", HTTPReply::Mode::normal, server_.url("/manifest.json")}, Case::transferFailed, "redirect"},
    };
    auto failureOf = [](const AutoUpdateConfiguration& configuration) -> std::optional<AutoUpdateError> {
        try {
            AutoUpdateManager(configuration).checkForUpdate();
        } catch (const AutoUpdateError& error) {
            return error;
        }
        return std::nullopt;
    };
    for (const auto& row : rows) {
        server_.route("/manifest.json", row.reply);
        auto failure = failureOf(configuration());
        ASSERT_TRUE(failure) << row.text;
        EXPECT_EQ(failure->errorCase(), row.expected) << failure->logDescription();
        EXPECT_NE(failure->logDescription().find(row.text), std::string::npos) << failure->logDescription().substr(0, 300);
    }
    // Nothing listens on port 1; the https server's certificate is not the one trusted.
    TrustedCertificate untrusted;
    LocalHTTPServer secure(untrusted);
    TrustedCertificate trusted;
    const std::pair<std::string, Case> unreachable[] = {{"http://127.0.0.1:1/manifest.json", Case::serverUnreachable},
                                                        {secure.url("/manifest.json"), Case::secureConnectionFailed}};
    for (const auto& [url, expected] : unreachable) {
        auto failure = failureOf(AutoUpdateConfiguration(*URL::parse(url), publicKey_, installed_, std::nullopt, "svc"));
        ASSERT_TRUE(failure) << url;
        EXPECT_EQ(failure->errorCase(), expected) << failure->logDescription();
        EXPECT_NE(failure->description().find(url), std::string::npos) << failure->description();
        EXPECT_FALSE(failure->detail().empty());
    }
    EXPECT_FALSE(exists(staging()));
}

TEST_F(UpdateCheck, ArchiveFailuresLeaveNoHalfWrittenFileTakenForAGoodOne) {
    Release release = publish();
    server_.route("/Sample.zip", {404, "gone"});
    EXPECT_EQ(outcome(manager()), "The update archive could not be downloaded. HTTP 404: " + server_.url("/Sample.zip"));
    EXPECT_EQ(listTree(staging()), "");

    server_.route("/Sample.zip", {200, readFile(release.archive), HTTPReply::Mode::closeMidBody});
    EXPECT_NE(outcome(manager()).find("transfer closed"), std::string::npos);
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

    // An https archive redirected to plain http is refused before the http server is asked.
    TrustedCertificate certificate;
    LocalHTTPServer secure(certificate);
    secure.route("/Sample.zip", {302, "", HTTPReply::Mode::normal, server_.url("/Sample.zip")});
    publish({}, [&](UpdateManifestPayload& payload) { payload.archiveURL = *autoupdatekit::URL::parse(secure.url("/Sample.zip")); });
    std::size_t plainRequests = server_.requestCount("/Sample.zip");
    EXPECT_NE(outcome(manager()).find("(A redirect was refused: Protocol \"http\" not supported or disabled in libcurl)"), std::string::npos);
    EXPECT_EQ(server_.requestCount("/Sample.zip"), plainRequests);
    EXPECT_EQ(listTree(staging()), "");
}

// A slow server still delivers; an archive damaged before it was published (so its
// digest matches) ends the check with a clear error, at extraction or at the check of
// the app's seal, never with an update ready.
TEST_F(UpdateCheck, ASlowServerDeliversAndADamagedArchiveIsNeverReady) {
    Release release = publish();
    std::string archive = readFile(release.archive);
    server_.route("/Sample.zip", {200, archive, HTTPReply::Mode::trickle});
    EXPECT_EQ(outcome(manager()), stagedOutcome());

    std::string flipped = archive;
    flipped[flipped.size() / 3] = static_cast<char>(flipped[flipped.size() / 3] ^ 0x5a);
    for (const std::string& damaged : {flipped, archive.substr(0, archive.size() / 2)}) {
        serveArchive(damaged);
        std::string result = outcome(manager());
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

// The signed size caps what the archive server can write, the partial file goes, and
// nothing outside the staging directory grows. A size the publisher left at 0 caps
// nothing, and a larger one lets the right archive through.
TEST_F(UpdateCheck, AnArchiveServerCannotFillTheDisk) {
    Release release = publish();
    std::string archive = readFile(release.archive);
    auto bytesOutsideStaging = [&] {
        std::uint64_t total = 0;
        std::istringstream entries(listTree(folder_.path()));
        for (std::string entry; std::getline(entries, entry);) {
            struct stat status = lstatOf(folder_ / entry);
            if (S_ISREG(status.st_mode) && (folder_ / entry).rfind(staging(), 0) != 0) total += static_cast<std::uint64_t>(status.st_size);
        }
        return total;
    };
    std::uint64_t before = bytesOutsideStaging();
    server_.route("/Sample.zip", {200, archive, HTTPReply::Mode::endless});
    EXPECT_EQ(outcome(manager()), "The transfer from the update server failed: " + server_.url("/Sample.zip") +
                                      " (The response body is larger than " + std::to_string(archive.size()) + " bytes.)");
    EXPECT_EQ(listTree(staging()), "");
    EXPECT_EQ(bytesOutsideStaging(), before);

    for (std::int64_t size : {std::int64_t{0}, static_cast<std::int64_t>(archive.size()) + 1000}) {
        publish({}, [&](UpdateManifestPayload& payload) { payload.archiveSize = size; });
        EXPECT_EQ(outcome(manager()), stagedOutcome()) << size;
    }
}

// A defaults file that does not parse holds no suppressed update: the check goes on,
// says so once, and leaves the file as it is; so does the command-line check.
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

    configureInstalledApp();
    auto checked = autoupdatectl({"check", installed_});
    EXPECT_EQ(checked.status, 3) << checked.bytes;
    EXPECT_NE(checked.bytes.find("left as it is"), std::string::npos) << checked.bytes;
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

// On a terminal autoupdatectl draws the download's progress on standard error: bytes,
// rate and time left. With --json, or with standard error not a terminal, it draws none.
TEST_F(UpdateCheck, AutoupdatectlShowsProgressOnATerminalOnly) {
    configureInstalledApp();
    publish();
    std::string tool = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdatectl";
    std::string drawn = terminalOutputOf(tool, {"check", installed_});
    EXPECT_NE(drawn.find("] 100% "), std::string::npos) << drawn;
    EXPECT_NE(drawn.find(" MiB/s  0:00 left"), std::string::npos) << drawn;

    const std::vector<std::string> withoutBar[] = {{"check", "--json", installed_}, {"check", installed_}};
    for (const auto& arguments : withoutBar) {
        platform::removeRecursively(staging());
        std::string shown = arguments.size() == 3 ? terminalOutputOf(tool, arguments) : autoupdatectl(arguments).bytes;
        EXPECT_NE(shown.find("update 2.0 (2) staged"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("MiB/s"), std::string::npos) << shown;
    }
}

TEST_F(UpdateCheck, AutoupdatectlReportsWhatTheFeedWouldDoToTheApp) {
    configureInstalledApp();
    publish();
    auto ready = autoupdatectl({"check", installed_});
    EXPECT_EQ(ready.status, 3) << ready.bytes;
    EXPECT_NE(ready.bytes.find("update 2.0 (2) staged at " + staging() + "/Extracted/Sample.app"), std::string::npos) << ready.bytes;

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
    installPackageOwning(installed_, folder_ / "package");
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
// archive is never fetched; a delta that no longer fits the installed app, or fails its
// own checks, falls back to the archive in the same check, leaving nothing of itself.
TEST_F(UpdateCheck, AnUpdateIsRebuiltFromADeltaOrFallsBackToTheArchive) {
    Release release = publish();
    const std::string delta = publishDelta(release, installed_);

    std::string corrupt = delta;
    corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 1);
    struct Row {
        std::string name;
        std::string served;
        std::string installedExtra;  // a file the user added to the installed app
        bool fromDelta;
    };
    const Row rows[] = {
        {"fits", delta, "", true},
        {"installed app changed", delta, "Contents/Resources/notes.txt", false},
        {"corrupt delta", corrupt, "", false},
    };
    for (const auto& row : rows) {
        platform::removeRecursively(staging());
        server_.route("/Sample.delta", {200, row.served});
        if (!row.installedExtra.empty()) writeFile(installed_ + "/" + row.installedExtra, "mine");
        std::size_t archives = server_.requestCount("/Sample.zip");
        std::string logged;
        AutoUpdateCheckOptions options;
        options.log = [&](const std::string& line) { logged += line + "\n"; };
        std::string result = outcome(manager(), options);
        std::string fromDelta = " from a delta of " + std::to_string(delta.size()) + " bytes (" +
                                std::to_string(release.payload.archiveSize - static_cast<std::int64_t>(delta.size())) +
                                " bytes less than the archive)";
        EXPECT_EQ(result, stagedOutcome() + (row.fromDelta ? fromDelta : "")) << row.name;
        EXPECT_EQ(server_.requestCount("/Sample.zip"), archives + (row.fromDelta ? 0 : 1)) << row.name;
        EXPECT_EQ(logged.find("could not be used") != std::string::npos, !row.fromDelta) << row.name << "\n" << logged;
        EXPECT_EQ(readFileIfAny(staging() + "/update.delta").empty(), !row.fromDelta) << row.name;
        EXPECT_EQ(AutoUpdateStatus::of(configuration()).stagedFromDelta,
                  row.fromDelta ? std::optional<std::string>("2.0-2: " + std::to_string(delta.size()) + " of " +
                                                             std::to_string(release.payload.archiveSize) + " bytes")
                                : std::nullopt)
            << row.name;
        EXPECT_EQ(codesign({"--verify", "--deep", "--strict", staging() + "/Extracted/Sample.app"}).status, 0) << row.name;
        if (!row.installedExtra.empty()) platform::removeRecursively(installed_ + "/" + row.installedExtra);
    }
}
