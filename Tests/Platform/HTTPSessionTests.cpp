#include "Files.hpp"
#include "LocalHTTPServer.hpp"
#include "PrivateSystemPaths.hpp"
#include "TrustedCertificate.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/HTTPSession.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>

using namespace testsupport;

namespace {

// The private mount namespace in which a test certificate is trusted.
using HTTPSessionOverTLS = PrivateSystemPaths;

}  // namespace

// The idle limit ends a transfer that stops moving, the whole-transfer limit one that
// trickles just above it, the size limit a body that never ends, whether the body is
// read into memory or into a file; the file never holds a byte past the size limit, and
// progress reports the bytes in it. A whole answer after a break (the file changed, so
// If-Range no longer matches) starts the file over: none of the longer old bytes stay.
TEST(HTTPSession, TransfersEndAtTheirLimitsAndAFileHoldsOnlyTheLastWholeAnswer) {
    LocalHTTPServer server;
    server.route("/stalled", {200, "xy", HTTPReply::Mode::stallMidBody});
    server.route("/trickle", {200, std::string(60, 't'), HTTPReply::Mode::byteASecond});
    server.route("/endless", {200, std::string(65536, 'e'), HTTPReply::Mode::endless});
    server.route("/exact", {200, std::string(1000, 'x')});
    server.routeInTurn("/changed", {{200, std::string(4000, 'o'), HTTPReply::Mode::closeMidBody, {}, "\"old\"", {}, true},
                                    {200, std::string(1000, 'n'), HTTPReply::Mode::normal, {}, "\"new\"", {}, true}});
    struct Case {
        std::string path;
        bool toFile;
        long transferTimeoutSeconds;
        std::optional<std::uint64_t> limit;
        int attempts;
        std::string outcome;  // "ok", else the error's text begins so
        off_t fileSize;       // an "ok" file is this large, a failed one no larger
    };
    const Case cases[] = {
        {"/stalled", false, 0, {}, 1, "Operation too slow", 0},
        {"/stalled", true, 0, {}, 1, "Operation too slow", 1},  // the byte that arrived
        {"/trickle", false, 2, {}, 1, "The transfer did not finish within 2 seconds.", 0},
        {"/trickle", true, 2, {}, 1, "The transfer did not finish within 2 seconds.", 59},
        {"/endless", true, 0, 200000, 1, "The response body is larger than 200000 bytes.", 200000},
        {"/exact", true, 0, 1000, 1, "ok", 1000},
        {"/exact", true, 0, 999, 1, "The response body is larger than 999 bytes.", 999},
        {"/changed", true, 0, {}, 2, "ok", 1000},
    };
    auto session = platform::HTTPSession::shared();
    TemporaryDirectory folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + (c.toFile ? " into a file" : " into memory"));
        platform::HTTPRequest request{*platform::WebURL::parse(server.url(c.path)), {}, 2, c.transferTimeoutSeconds, c.attempts};
        std::string file = folder / std::to_string(&c - cases);
        platform::FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        std::uint64_t reported = 0;
        std::string outcome = "ok";
        try {
            if (c.toFile) {
                session->download(request, fd.get(), [&](std::uint64_t received, auto) { reported = received; }, c.limit);
            } else {
                session->data(request, c.limit.value_or(1 << 20));
            }
        } catch (const platform::TransportError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome.rfind(c.outcome, 0), 0u) << outcome;
        off_t size = lstatOf(file).st_size;
        EXPECT_TRUE(c.outcome == "ok" ? size == c.fileSize : size <= c.fileSize) << size;
        EXPECT_EQ(reported, static_cast<std::uint64_t>(size));
    }
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
