// A local user (uid 65534) who sends the real root helper whatever bytes they like, and
// as many connections as they like: no message ends the helper, no flood takes its
// memory or its threads, root is answered all the while, and when the attack ends the
// attacker is answered again. Every wait here is bounded.

#include "ChildProcess.hpp"
#include "Files.hpp"
#include "HelperProcess.hpp"
#include "PrivateSystemPaths.hpp"
#include "WaitUntil.hpp"

#include "Platform/IPC/Service.hpp"
#include "Platform/PropertyList.hpp"

#include <algorithm>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

using namespace testsupport;
using autoupdatekit::PrivilegedUpdateRequest;
using namespace std::chrono_literals;

namespace {

// A well-formed request the helper answers at once (it names no staged app).
PrivilegedUpdateRequest request() {
    return PrivilegedUpdateRequest("/Applications/Sample.app", "/tmp/Sample.app", "com.example.sample", "TEAMA1", "2.0-7", 0, false);
}
const std::string answer = "App bundle does not exist at /tmp/Sample.app.";

std::string corpusFile(const std::string& name) { return readFile(std::string(AUTOUPDATEKIT_FUZZ_CORPUS_DIR) + "/IPCMessage/" + name); }

class HostileClient : public PrivateSystemPaths {
protected:
    void SetUp() override {
        PrivateSystemPaths::SetUp();
        if (HasFatalFailure()) return;
        helper_ = std::make_unique<HelperProcess>();
        ASSERT_TRUE(helper_->running());
        idleThreads_ = processStatusField(helper_->pid(), "Threads");
        ASSERT_EQ(scheduleInstallWithin(request(), 10s), answer);
    }

    void TearDown() override {
        helper_.reset();
        PrivateSystemPaths::TearDown();
    }

    // The reply a uid 65534 client gets now.
    static std::string answerToNobody() {
        return runAsNobody([] { return scheduleInstallWithin(request(), 10s); });
    }

    std::unique_ptr<HelperProcess> helper_;
    long idleThreads_ = 0;
};

}  // namespace

// Messages that end only their own connection, as a nobody sends them. One message (a
// 1,043,037-byte binary list of 149,000 nested one-element arrays) once overflowed the
// stack of the connection's thread and so ended the helper with every install it held;
// with it a deep XML list and a list whose shared references name 2^40 values (the IPC
// fuzzer's seeds, framed as they travel), a UTF-16 string holding NUL, which the list
// library would abort the helper on, a malformed and an empty body, and a message cut
// off by its sender.
TEST_F(HostileClient, MalformedOrDeepMessagesEndOnlyTheirOwnConnection) {
    std::string withNul = platform::PropertyList::binary(platform::PropertyDictionary{{"selector", "caf\xC3\xA9Q"}});
    withNul[withNul.find('Q')] = '\0';
    const std::pair<std::string, std::string> messages[] = {
        {"nested binary", corpusFile("nested-arrays-149000.bin")},
        {"nested XML", corpusFile("nested-arrays-65000.xml.bin")},
        {"doubling references", corpusFile("doubling-references.bin")},
        {"NUL in UTF-16", std::string("\x00\x00\x00", 3) + static_cast<char>(withNul.size()) + withNul},
        {"malformed", std::string("\x00\x00\x00\x08", 4) + "notplist"},
        {"empty", std::string("\x00\x00\x00\x00", 4)},
    };
    for (const auto& [name, message] : messages) {
        ASSERT_LE(message.size(), 4 + platform::ipc::maximumMessageSize) << name;
        std::string outcome = runAsNobody([&] {
            platform::FileDescriptor connection = connectToTestHelper();
            if (!connection.valid()) return std::string("cannot connect");
            std::string text = sendAll(connection.get(), message) ? "sent" : "not sent";
            text += closedByPeerWithin(connection.get(), 15s) ? ", closed" : ", left open";
            return text + ", then: " + scheduleInstallWithin(request(), 10s);
        });
        EXPECT_EQ(outcome, "sent, closed, then: " + answer) << name;
        ASSERT_TRUE(helper_->running()) << name << " ended the helper";
    }
    platform::FileDescriptor cut = connectToTestHelper();
    EXPECT_TRUE(sendAll(cut.get(), std::string("\x00\x00\x01\x00partial", 11)));
    cut.reset();
    // A length over the cap closes the connection at its header, before any of the body
    // is buffered: the 8 MiB that follow find the connection closed. (Buffering it, the
    // helper would take them all and close only at the message's deadline.)
    platform::FileDescriptor oversized = connectToTestHelper();
    EXPECT_FALSE(sendAll(oversized.get(), std::string("\xff\xff\xff\xff", 4) + std::string(8 << 20, 'x')))
        << "the helper read on past an oversized length";
    EXPECT_EQ(scheduleInstallWithin(request(), 10s), answer);
}

// 1,100 connections each announcing 1 MiB once took the helper to 1.1 GiB, one thread
// each. Now one user gets at most maximumConnectionsPerUser connections (the rest are
// closed at once), a message's buffer grows only as its bytes arrive, root is answered
// during the flood, and the helper itself ends the flood's connections: an idle one at
// the idle timeout, one whose message of 1 MiB gets a byte every 250 ms at the message's
// deadline. Then the flooding user is answered again.
TEST_F(HostileClient, ConnectionFloodLeavesRootAnsweredAndMemoryBoundedUntilTheDeadlinesEndIt) {
    pid_t helper = helper_->pid();
    long residentBefore = processStatusField(helper, "VmRSS");
    long threadsBefore = processStatusField(helper, "Threads");
    ASSERT_GT(residentBefore, 0);

    // Every other connection stays idle; the others start a message of 1 MiB. The child's
    // copies of the lists keep them open while it runs on, as long as the helper lets them.
    std::vector<platform::FileDescriptor> idle;
    std::vector<platform::FileDescriptor> slow;
    NobodyProcess attacker([&] {
        for (int index = 0; index < 300; ++index) {
            platform::FileDescriptor connection = connectToTestHelper();
            if (!connection.valid()) continue;
            if (index % 2 == 1) sendAll(connection.get(), std::string("\x00\x10\x00\x00", 4) + "bplist00");
            (index % 2 == 1 ? slow : idle).push_back(std::move(connection));
        }
        std::this_thread::sleep_for(500ms);  // what is over the cap is closed by then
        auto open = [](const auto& connection) { return !closedByPeerWithin(connection.get(), 0ms); };
        auto kept = std::count_if(idle.begin(), idle.end(), open) + std::count_if(slow.begin(), slow.end(), open);
        // The started messages get a byte every 250 ms, which never completes them, for
        // a minute, past both deadlines.
        std::thread([&] {
            for (int tick = 0; tick < 240; ++tick) {
                for (const auto& connection : slow) ::send(connection.get(), "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                std::this_thread::sleep_for(250ms);
            }
        }).detach();
        return std::to_string(kept);
    }, {.keepRunning = true});
    std::string kept = attacker.result(20s);
    ASSERT_EQ(kept.find_first_not_of("0123456789"), std::string::npos) << kept;
    EXPECT_LE(std::stoi(kept), platform::ipc::maximumConnectionsPerUser);

    EXPECT_EQ(scheduleInstallWithin(request(), 10s), answer) << "root must be answered during the flood";
    EXPECT_NE(answerToNobody(), answer) << "the flooding user is over the cap";
    EXPECT_LE(processStatusField(helper, "Threads"), threadsBefore + platform::ipc::maximumConnectionsPerUser + 2);
    long peak = processStatusField(helper, "VmHWM");
    EXPECT_LT(peak - residentBefore, 100 * 1024) << "KiB of resident memory grew from " << residentBefore << " to a peak of " << peak;

    // The attacker holds on, but each connection's thread ends with its deadline.
    auto deadlines = std::max(platform::ipc::connectionIdleTimeout, platform::ipc::messageReadTimeout) + 20s;
    EXPECT_TRUE(waitUntil([&] { return processStatusField(helper, "Threads") <= idleThreads_; }, deadlines, 100ms))
        << processStatusField(helper, "Threads") << " threads, " << idleThreads_ << " when idle";
    EXPECT_EQ(answerToNobody(), answer);
    EXPECT_TRUE(helper_->running());
}

// Out of descriptors, accept fails while the connection waits in the backlog: the loop
// pauses between tries instead of spinning, and serves the waiting client once
// descriptors are free again.
TEST_F(HostileClient, OutOfDescriptorsTheAcceptLoopWaitsInsteadOfSpinning) {
    pid_t helper = helper_->pid();
    // A connection thread still ending would need descriptors the test is about to take
    // away (the sanitizers' runtime does, to check memory), which is not what is tested.
    ASSERT_TRUE(waitUntil([&] { return processStatusField(helper, "Threads") <= idleThreads_; }, 5s, 10ms));
    rlimit before{};
    ASSERT_EQ(::prlimit(helper, RLIMIT_NOFILE, nullptr, &before), 0);
    rlimit exhausted = before;
    exhausted.rlim_cur = static_cast<rlim_t>(lowestFreeDescriptor(helper));
    ASSERT_EQ(::prlimit(helper, RLIMIT_NOFILE, &exhausted, nullptr), 0);

    platform::FileDescriptor waiting = connectToTestHelper();  // sits in the backlog
    ASSERT_TRUE(waiting.valid());
    auto cpuBefore = processCPUTime(helper);
    std::this_thread::sleep_for(1s);
    auto cpuUsed = processCPUTime(helper) - cpuBefore;
    ASSERT_EQ(::prlimit(helper, RLIMIT_NOFILE, &before, nullptr), 0);

    // A loop that retries at once uses the whole second; one that pauses, next to none.
    EXPECT_LT(cpuUsed, 500ms) << "CPU time the helper used in one second out of descriptors";
    EXPECT_EQ(scheduleInstallOn(waiting.get(), request(), 10s), answer);
    EXPECT_TRUE(helper_->running());
}

// Started by the service manager, the helper serves the socket it is handed.
TEST_F(HostileClient, SocketActivatedHelperServesTheHandedOverSocket) {
    helper_.reset();
    HelperProcess activated(socketForActivation());
    EXPECT_EQ(scheduleInstallWithin(request(), 10s), answer);
}
