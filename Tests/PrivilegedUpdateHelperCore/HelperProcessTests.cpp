#include "PrivilegedUpdateInterface.hpp"

#include "FramedClient.hpp"
#include "HelperClient.hpp"
#include "HelperProcess.hpp"
#include "PrivateSystemPaths.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/PropertyList.hpp"

#include <sys/socket.h>

using namespace autoupdatekit;
using testsupport::HelperProcess;

namespace {

PrivilegedUpdateRequest request() {
    return PrivilegedUpdateRequest("/Applications/Sample.app", "/tmp/Sample.app", "com.example.sample", "TEAMA1", "2.0-7", 0, false);
}

platform::FileDescriptor rawConnection() {
    platform::FileDescriptor fd = testsupport::connectToTestHelper();
    EXPECT_TRUE(fd.valid());
    return fd;
}

void sendRaw(int fd, const std::string& bytes) { EXPECT_TRUE(testsupport::sendAll(fd, bytes)); }

}  // namespace

class HelperProcessTest : public testsupport::PrivateSystemPaths {};

TEST_F(HelperProcessTest, SocketActivatedHelperServesTheHandedOverSocket) {
    HelperProcess helper(HelperProcess::Start::socketActivated);
    testsupport::HelperOutcome outcome = testsupport::scheduleInstallOnce(request());
    EXPECT_TRUE(outcome.reply) << outcome.error;
}

TEST_F(HelperProcessTest, GarbageEndsOnlyItsOwnConnection) {
    HelperProcess helper;
    auto idle = rawConnection();  // connects and sends nothing
    auto half = rawConnection();
    sendRaw(half.get(), std::string("\x00\x00\x01\x00partial", 11));  // disconnects mid-message below
    half.reset();

    // A UTF-16 string holding NUL, which the list library would abort the helper on.
    std::string withNul = platform::PropertyList::binary(platform::PropertyDictionary{{"selector", "caf\xC3\xA9Q"}});
    withNul[withNul.find('Q')] = '\0';
    const std::string garbage[] = {
        std::string("\x00\x00\x00", 3) + static_cast<char>(withNul.size()) + withNul,
        std::string("\x00\x00\x00\x08", 4) + "notplist",                        // malformed body
        std::string("\x00\x00\x00\x00", 4),                                      // empty message
    };
    for (const auto& bytes : garbage) {
        auto connection = rawConnection();
        sendRaw(connection.get(), bytes);
        char buffer[16];
        EXPECT_EQ(::recv(connection.get(), buffer, sizeof buffer, 0), 0) << "the helper should close this connection";
    }
    // A length over the cap closes the connection at its header, before any of the body
    // is buffered: the 8 MiB that follow find the connection closed. (Buffering it, the
    // helper would take them all and close only at the message's deadline.)
    auto oversized = rawConnection();
    std::string announced = std::string("\xff\xff\xff\xff", 4) + std::string(8 << 20, 'x');
    EXPECT_FALSE(testsupport::sendAll(oversized.get(), announced)) << "the helper read on past an oversized length";
    testsupport::HelperOutcome outcome = testsupport::scheduleInstallOnce(request());
    EXPECT_TRUE(outcome.reply) << outcome.error;
    EXPECT_TRUE(helper.running());
}
