#pragma once
// The real helper as a test process, and the ways a test talks to it: the client's own
// calls, raw connections for what no client would send (oversized, nested, slow or
// endless messages), a framed call whose every wait is bounded, so a helper that stops
// answering fails the test instead of hanging it, and the helper's log.

#include "ChildProcess.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "Platform/FileDescriptor.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace testsupport {

inline constexpr const char* testHelperServiceName = "com.example.sample.PrivilegedUpdater";
inline constexpr const char* testHelperLogPath = "/Library/Logs/SamplePrivilegedUpdater.log";

// The helper executable built with the sample test policy, started standalone (it binds
// its own socket) or socket-activated (handed a socket from socketForActivation); ready
// once its socket takes connections (at most 10 s). Its tool runs share its group.
class HelperProcess : public ChildProcess {
public:
    explicit HelperProcess(const platform::FileDescriptor& activation = platform::FileDescriptor());
};

// The service's socket, bound and listening, as a service manager makes it.
platform::FileDescriptor socketForActivation();

struct HelperOutcome {
    std::optional<autoupdatekit::PrivilegedUpdateReply> reply;
    std::string error;
    int callbacks = 0;
};

// One call on a connection of its own, as the client makes them.
HelperOutcome scheduleInstallOnce(const autoupdatekit::PrivilegedUpdateRequest& request);
// The same call's reply message, or "no reply: " and the connection error.
std::string scheduleInstallReply(const autoupdatekit::PrivilegedUpdateRequest& request);
HelperOutcome installSystemLaunchAgentOnce();

// A new connection to the test helper; not valid when the connect fails.
platform::FileDescriptor connectToTestHelper();

// Sends all bytes (blocking); false once the peer has ended the connection.
bool sendAll(int fd, std::string_view bytes);

// Whether the helper ends the connection within the timeout (what it sends is dropped).
bool closedByPeerWithin(int fd, std::chrono::milliseconds timeout);

// Sends a well-formed scheduleInstall message on fd and waits at most timeout for its
// reply: the reply's message text, or "no reply: " and why.
std::string scheduleInstallOn(int fd, const autoupdatekit::PrivilegedUpdateRequest& request, std::chrono::milliseconds timeout);

// The same on a new connection of its own.
std::string scheduleInstallWithin(const autoupdatekit::PrivilegedUpdateRequest& request, std::chrono::milliseconds timeout);

// The helper's log without timestamps, one message a line.
std::string helperLogMessages();

// Waits (at most the timeout) until the log holds a line containing text.
bool waitForLogLine(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(30));

}  // namespace testsupport
