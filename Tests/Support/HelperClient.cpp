#include "HelperClient.hpp"

#include "Files.hpp"
#include "HelperProcess.hpp"
#include "PrivilegedUpdateInterface.hpp"
#include "WaitUntil.hpp"


namespace testsupport {
namespace {

template <typename Call>
HelperOutcome callOnce(Call call) {
    platform::ipc::Connection connection(testHelperServiceName, platform::ipc::privilegedOption);
    connection.resume();
    HelperOutcome outcome;
    autoupdatekit::PrivilegedUpdateHelperProxy proxy(connection, [&](const std::string& description) {
        outcome.error = description;
        ++outcome.callbacks;
    });
    call(proxy, [&](const autoupdatekit::PrivilegedUpdateReply& reply) {
        outcome.reply = reply;
        ++outcome.callbacks;
    });
    connection.invalidate();
    return outcome;
}

}  // namespace

HelperOutcome scheduleInstallOnce(const autoupdatekit::PrivilegedUpdateRequest& request) {
    return callOnce([&](auto& proxy, auto reply) { proxy.scheduleInstall(request, reply); });
}

std::string scheduleInstallReply(const autoupdatekit::PrivilegedUpdateRequest& request) {
    auto outcome = scheduleInstallOnce(request);
    return outcome.reply ? outcome.reply->message() : "no reply: " + outcome.error;
}

HelperOutcome installSystemLaunchAgentOnce() {
    return callOnce([](auto& proxy, auto reply) { proxy.installSystemLaunchAgent(reply); });
}

std::string helperLogMessages() { return timestampedMessages(readFileIfAny(testHelperLogPath)); }

bool waitForLogLine(const std::string& text, std::chrono::seconds timeout) {
    return waitUntil([&] { return helperLogMessages().find(text) != std::string::npos; }, timeout);
}

}  // namespace testsupport
