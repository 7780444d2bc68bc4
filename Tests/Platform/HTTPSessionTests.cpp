#include "Files.hpp"
#include "LocalHTTPServer.hpp"
#include "PrivateSystemPaths.hpp"
#include "TemporaryDirectory.hpp"
#include "TrustedCertificate.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/HTTPSession.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace testsupport;

namespace {

platform::HTTPRequest stalledRequest(const LocalHTTPServer& server) {
    return {*platform::WebURL::parse(server.url("/stalled")), {}, 2};
}

// The private mount namespace in which a test certificate is trusted.
using HTTPSessionOverTLS = PrivateSystemPaths;

}  // namespace

// The idle limit ends a transfer that stops moving, whether the body is read into
// memory or streamed into a file.
TEST(HTTPSession, AStalledTransferFailsWithCurlsOwnTextAfterTheIdleLimit) {
    LocalHTTPServer server;
    server.route("/stalled", {200, "xy", HTTPReply::Mode::stallMidBody});
    auto session = platform::HTTPSession::shared();
    try {
        session->data(stalledRequest(server), 1 << 20);
        ADD_FAILURE() << "a stalled body was accepted";
    } catch (const platform::TransportError& error) {
        EXPECT_NE(std::string(error.what()).find("Operation too slow"), std::string::npos) << error.what();
    }

    TemporaryDirectory folder;
    platform::FileDescriptor fd(::open((folder / "body").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    std::uint64_t reported = 0;
    EXPECT_THROW(session->download(stalledRequest(server), fd.get(), [&](std::uint64_t received, auto) { reported = received; }),
                 platform::TransportError);
    EXPECT_EQ(reported, 1u);  // the byte that arrived, reported and no more
}

// A server that trickles just above the idle limit is cut off by the whole-transfer
// limit, and a body that never ends by the size limit, which is never written past.
TEST(HTTPSession, ATricklingOrEndlessBodyIsCutOffByItsLimits) {
    LocalHTTPServer server;
    server.route("/trickle", {200, std::string(60, 't'), HTTPReply::Mode::byteASecond});
    server.route("/endless", {200, std::string(65536, 'e'), HTTPReply::Mode::endless});
    server.route("/exact", {200, std::string(1000, 'x')});
    auto session = platform::HTTPSession::shared();
    auto request = [&](const std::string& path, long transferTimeoutSeconds) {
        platform::HTTPRequest made{*platform::WebURL::parse(server.url(path))};
        made.transferTimeoutSeconds = transferTimeoutSeconds;
        return made;
    };
    try {
        session->data(request("/trickle", 2), 1 << 20);
        ADD_FAILURE() << "a trickling body was waited for to the end";
    } catch (const platform::TransportError& error) {
        EXPECT_STREQ(error.what(), "The transfer did not finish within 2 seconds.");
    }

    // Each download's outcome, and the size of the file it wrote.
    TemporaryDirectory folder;
    int downloads = 0;
    auto download = [&](const platform::HTTPRequest& made, std::optional<std::uint64_t> limit) {
        std::string file = folder / std::to_string(++downloads);
        platform::FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        std::string outcome = "ok";
        try {
            session->download(made, fd.get(), {}, limit);
        } catch (const platform::TransportError& error) {
            outcome = error.what();
        }
        struct stat status {};
        ::stat(file.c_str(), &status);
        return std::pair{outcome, status.st_size};
    };
    auto [trickled, trickledSize] = download(request("/trickle", 2), std::nullopt);
    EXPECT_EQ(trickled, "The transfer did not finish within 2 seconds.");
    EXPECT_LT(trickledSize, 60);

    auto [endless, endlessSize] = download(request("/endless", 0), 200000);
    EXPECT_EQ(endless, "The response body is larger than 200000 bytes.");
    EXPECT_GT(endlessSize, 0);
    EXPECT_LE(endlessSize, 200000);

    EXPECT_EQ(download(request("/exact", 0), 1000), (std::pair<std::string, off_t>("ok", 1000)));
    auto [over, overSize] = download(request("/exact", 0), 999);
    EXPECT_EQ(over, "The response body is larger than 999 bytes.");
    EXPECT_LE(overSize, 999);
}

// A break followed by a whole answer (the file changed, so If-Range no longer matches)
// starts the file over: a shorter new body leaves none of the longer old bytes behind.
TEST(HTTPSession, AWholeAnswerAfterABreakLeavesNoneOfTheBytesBeforeIt) {
    LocalHTTPServer server;
    server.routeInTurn("/file", {{200, std::string(4000, 'o'), HTTPReply::Mode::closeMidBody, {}, "\"old\"", {}, true},
                                 {200, std::string(1000, 'n'), HTTPReply::Mode::normal, {}, "\"new\"", {}, true}});
    platform::HTTPRequest request{*platform::WebURL::parse(server.url("/file"))};
    request.downloadAttempts = 2;
    TemporaryDirectory folder;
    platform::FileDescriptor fd(::open((folder / "body").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    EXPECT_EQ(platform::HTTPSession::shared()->download(request, fd.get(), {}).statusCode, 200);
    EXPECT_EQ(server.requestCount("/file"), 2u);
    EXPECT_EQ(readFile(folder / "body"), std::string(1000, 'n'));
}

// An https transfer stays private to its end: a redirect to plain http fails before the
// http server is asked anything, while one to https is followed. A plain http request
// may still be moved up to https, or along to http.
TEST_F(HTTPSessionOverTLS, AnHTTPSTransferFollowsRedirectsOnlyToHTTPS) {
    TrustedCertificate certificate;
    LocalHTTPServer secure(certificate);
    LocalHTTPServer plain;
    for (LocalHTTPServer* server : {&secure, &plain}) {
        server->route("/target", {200, "target"});
        server->route("/to-http", {302, "", HTTPReply::Mode::normal, plain.url("/target")});
        server->route("/to-https", {302, "", HTTPReply::Mode::normal, secure.url("/target")});
    }
    const std::pair<std::string, std::string> cases[] = {
        {secure.url("/to-http"), "A redirect was refused: Protocol \"http\" not supported or disabled in libcurl"},
        {secure.url("/to-https"), "target"},
        {plain.url("/to-https"), "target"},
        {plain.url("/to-http"), "target"},
    };
    for (const auto& [url, outcome] : cases) {
        std::string result;
        try {
            result = platform::HTTPSession::shared()->data({*platform::WebURL::parse(url)}, 1024).first;
        } catch (const platform::TransportError& error) {
            result = error.what();
        }
        EXPECT_EQ(result, outcome) << url;
    }
    EXPECT_EQ(plain.requestCount("/target"), 1u);  // from the plain request alone
}
