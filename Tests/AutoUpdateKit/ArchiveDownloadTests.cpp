// The archive download of the check: transfers that break part-way resume from the
// partial file, within the signed size and the one time limit, and an interrupted
// autoupdatectl leaves no partial file behind.

#include "Files.hpp"
#include "UpdateCheckFixture.hpp"

#include "Platform/Crypto.hpp"
#include "Platform/FileSystem.hpp"

#include <sstream>
#include <sys/stat.h>

using namespace autoupdatekit;
using namespace testsupport;

namespace {

// Every progress report of a download, in order (a direct check reports on its own
// thread).
struct ProgressLog {
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::vector<AutoUpdateProgress> reports;

    AutoUpdateCheckOptions options() {
        AutoUpdateCheckOptions options;
        options.progress = [this](const AutoUpdateProgress& progress) { reports.push_back(progress); };
        return options;
    }
    // At most ten a second, and the final one.
    bool rateLimited() const {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return static_cast<double>(reports.size()) <= seconds * 10 + 2;
    }
};

HTTPReply brokenHalfWay(const std::string& body, const std::string& entityTag, const std::string& lastModified = {}) {
    return {200, body, HTTPReply::Mode::closeMidBody, {}, entityTag, lastModified, true};
}

HTTPReply whole(const std::string& body, const std::string& entityTag, bool rangeRequests, const std::string& lastModified = {}) {
    return {200, body, HTTPReply::Mode::normal, {}, entityTag, lastModified, rangeRequests};
}

// The Range header of the n-th request for the archive, or "".
std::string rangeOf(const LocalHTTPServer& server, std::size_t n) {
    std::vector<RecordedRequest> archive;
    for (const auto& request : server.requests()) if (request.target == "/Sample.zip") archive.push_back(request);
    auto range = n < archive.size() ? archive[n].header("Range") : std::nullopt;
    if (!range) return "";
    auto ifRange = archive[n].header("If-Range");
    return "Range: " + *range + (ifRange ? " | If-Range: " + *ifRange : "");
}

}  // namespace

// The rest is fetched with a Range request guarded by the first answer's validator (a
// strong tag, else the date, never a weak tag), and progress counts each byte once. A
// server that answers it with the whole body, or whose file changed since (If-Range no
// longer matches), has the file started over from byte 0: old bytes never mix with new.
// However the transfer breaks, the attempts stop at five; the signed size caps what the
// archive server can write, also to a resumed file. A failure leaves the staging
// directory empty, and nothing outside it grows.
TEST_F(UpdateCheck, ABrokenArchiveTransferResumesOrStartsOverWithinTheAttemptAndSizeLimits) {
    std::string oldBytes = readFile(publish({"2.0", "9"}).archive);
    std::string archive = readFile(publish().archive);
    ASSERT_NE(oldBytes, archive);
    const std::string date = "Tue, 01 Dec 2026 12:00:00 GMT";
    auto rangeAfter = [](const std::string& broken, const std::string& validator) {
        return "Range: bytes=" + std::to_string(broken.size() / 2) + "- | If-Range: " + validator;
    };
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
    HTTPReply alwaysBroken = brokenHalfWay(archive, "\"v1\"");
    alwaysBroken.rangeRequests = false;
    const HTTPReply endless{200, archive, HTTPReply::Mode::endless};
    const std::string staged = stagedOutcome();
    const std::string tooLarge = "The transfer from the update server failed: " + server_.url("/Sample.zip") +
                                 " (The response body is larger than " + std::to_string(archive.size()) + " bytes.)";
    struct Row {
        std::vector<HTTPReply> replies;
        std::string result;  // a part of it
        std::size_t requests;
        std::string range;  // of the second request
        bool resumed;
    };
    const Row rows[] = {
        {{brokenHalfWay(archive, "\"v1\""), whole(archive, "\"v1\"", true)}, staged, 2, rangeAfter(archive, "\"v1\""), true},
        {{brokenHalfWay(archive, "W/\"weak\"", date), whole(archive, "W/\"weak\"", true, date)}, staged, 2, rangeAfter(archive, date), true},
        {{brokenHalfWay(archive, "\"v1\""), whole(archive, "\"v1\"", false)}, staged, 2, rangeAfter(archive, "\"v1\""), false},
        {{brokenHalfWay(oldBytes, "\"old\""), whole(archive, "\"new\"", true)}, staged, 2, rangeAfter(oldBytes, "\"old\""), false},
        {{alwaysBroken}, "transfer closed", 5, rangeAfter(archive, "\"v1\""), false},
        {{endless}, tooLarge, 1, "", false},
        {{brokenHalfWay(archive, "\"v1\""), endless}, tooLarge, 2, rangeAfter(archive, "\"v1\""), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.result + " after " + row.range);
        platform::removeRecursively(staging());  // else the archive staged before is reused
        server_.routeInTurn("/Sample.zip", row.replies);
        std::size_t requests = server_.requestCount("/Sample.zip");
        ProgressLog progress;
        EXPECT_NE(outcome(manager(), progress.options()).find(row.result), std::string::npos);
        EXPECT_EQ(server_.requestCount("/Sample.zip") - requests, row.requests);
        EXPECT_EQ(rangeOf(server_, requests), "");
        EXPECT_EQ(rangeOf(server_, requests + 1), row.range);
        if (row.result == staged) {
            EXPECT_EQ(readFile(staging() + "/Sample-2.0.zip"), archive);
        } else {
            EXPECT_EQ(listTree(staging()), "");
            EXPECT_EQ(bytesOutsideStaging(), before);
        }
        if (!row.resumed) continue;
        const auto& reports = progress.reports;
        ASSERT_FALSE(reports.empty());
        for (std::size_t n = 0; n < reports.size(); ++n) {
            EXPECT_EQ(reports[n].totalBytes, archive.size()) << n;
            EXPECT_EQ(reports[n].finished, n + 1 == reports.size()) << n;
            if (n > 0) {
                EXPECT_GE(reports[n].receivedBytes, reports[n - 1].receivedBytes) << n;
            }
        }
        EXPECT_EQ(reports.back().receivedBytes, archive.size());
        EXPECT_GT(reports.back().bytesPerSecond, 0);
        EXPECT_TRUE(progress.rateLimited()) << reports.size();
    }

    // A size the publisher left at 0 caps nothing, and a larger one lets the right archive
    // through.
    for (std::int64_t size : {std::int64_t{0}, static_cast<std::int64_t>(archive.size()) + 1000}) {
        publish({}, [&](UpdateManifestPayload& payload) { payload.archiveSize = size; });
        EXPECT_EQ(outcome(manager()), stagedOutcome()) << size;
    }

    // A fast download of many pieces is reported about ten times a second, not per piece.
    const std::string many(std::size_t{4} << 20, 'x');
    publish({}, [&](UpdateManifestPayload& payload) {
        auto digest = platform::sha256(many);
        payload.archiveSHA256 = platform::hexLowercase(digest.data(), digest.size());
        payload.archiveSize = static_cast<std::int64_t>(many.size());
    });
    server_.route("/Sample.zip", {200, many});
    ProgressLog fast;
    outcome(manager(), fast.options());
    const auto& reports = fast.reports;
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(fast.rateLimited()) << reports.size();
    EXPECT_TRUE(reports.back().finished);
    EXPECT_EQ(reports.back().receivedBytes, many.size());
}

// Interrupted during a slow download (its archive comes a byte a second), autoupdatectl
// cancels the check: it says so on standard error alone, exits 130 as a shell expects of
// Ctrl-C, and leaves no partial file.
TEST_F(UpdateCheck, InterruptingAutoupdatectlCancelsItsCheckCleanly) {
    configureInstalledApp();
    publishSlowly();
    std::string tool = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdatectl";
    auto run = runSeparatingOutput("/usr/bin/timeout", {"--preserve-status", "--signal=INT", "10", tool, "check", installed_});
    EXPECT_EQ(server_.requestCount("/Sample.zip"), 1u);  // interrupted while downloading
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.standardOutput, "");
    EXPECT_NE(run.standardError.find("autoupdatectl check: The update check was cancelled."), std::string::npos) << run.standardError;
    EXPECT_EQ(listTree(staging()), "");
}
