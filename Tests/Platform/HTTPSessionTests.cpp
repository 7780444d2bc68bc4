#include "LocalHTTPServer.hpp"
#include "TemporaryDirectory.hpp"

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
