#pragma once
// One call to the test helper on its own connection, as the client makes them, and
// waiting on the helper's log.

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace testsupport {

struct HelperOutcome {
    std::optional<autoupdatekit::PrivilegedUpdateReply> reply;
    std::string error;
    int callbacks = 0;
};

HelperOutcome scheduleInstallOnce(const autoupdatekit::PrivilegedUpdateRequest& request);
// The same call's reply message, or "no reply: " and the connection error.
std::string scheduleInstallReply(const autoupdatekit::PrivilegedUpdateRequest& request);
HelperOutcome installSystemLaunchAgentOnce();

inline constexpr const char* testHelperLogPath = "/Library/Logs/SamplePrivilegedUpdater.log";

// The helper's log without timestamps, one message a line.
std::string helperLogMessages();

// Waits (at most the timeout) until the log holds a line containing text.
bool waitForLogLine(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(30));

}  // namespace testsupport
