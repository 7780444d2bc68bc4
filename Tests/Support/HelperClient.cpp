#include "HelperClient.hpp"

#include "HelperProcess.hpp"
#include "PrivilegedUpdateInterface.hpp"

#include "Platform/FileSystem.hpp"

#include <thread>

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

HelperOutcome installSystemLaunchAgentOnce() {
    return callOnce([](auto& proxy, auto reply) { proxy.installSystemLaunchAgent(reply); });
}

std::string helperLogMessages() {
    std::string log;
    try {
        log = platform::readWholeFile(testHelperLogPath);
    } catch (const std::exception&) {
        return "";
    }
    std::string messages;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        messages += log.substr(start + 21, end - start - 21) + "\n";  // past "YYYY-MM-DDTHH:MM:SSZ "
        start = end + 1;
    }
    return messages;
}

bool waitForLogLine(const std::string& text, std::chrono::seconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (helperLogMessages().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace testsupport
