#include "HelperProcess.hpp"

#include "Files.hpp"
#include "PrivilegedUpdateInterface.hpp"
#include "WaitUntil.hpp"

#include "Platform/IPC/KeyedArchive.hpp"
#include "Platform/IPC/MessageStream.hpp"
#include "Platform/IPC/Service.hpp"
#include "Platform/PropertyList.hpp"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

platform::FileDescriptor socketForActivation() {
    return platform::ipc::bindServiceSocket(testHelperServiceName, platform::ipc::privilegedOption);
}

HelperProcess::HelperProcess(const platform::FileDescriptor& activation)
    : ChildProcess({std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/TestPrivilegedUpdateHelper"}, "", activation.get()) {
    waitUntil([this] { return connectToTestHelper().valid() || !running(); }, std::chrono::seconds(10), std::chrono::milliseconds(20));
}

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

platform::FileDescriptor connectToTestHelper() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, platform::ipc::socketPath(testHelperServiceName, platform::ipc::privilegedOption).c_str(), sizeof address.sun_path - 1);
    platform::FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
    return fd;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t count = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

bool closedByPeerWithin(int fd, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left < 0) return false;
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        ssize_t count = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) return true;
    }
}

std::string scheduleInstallOn(int fd, const autoupdatekit::PrivilegedUpdateRequest& request, std::chrono::milliseconds timeout) {
    platform::ipc::KeyedArchiver coder(autoupdatekit::PrivilegedUpdateRequest::className);
    request.encode(coder);
    platform::PropertyDictionary message{{"selector", autoupdatekit::PrivilegedUpdateHelperProtocol::scheduleInstallSelector},
                                         {"replyID", std::int64_t{1}},
                                         {"argument", coder.archive()}};
    try {
        platform::ipc::writeMessage(fd, message, timeout);
        auto reply = platform::ipc::readMessage(fd, timeout, timeout);
        if (!reply) return "no reply: the connection was closed";
        auto archived = reply->find("reply");
        if (archived == reply->end()) return "no reply: the message holds none";
        auto decoded = autoupdatekit::PrivilegedUpdateReply::decode(
            platform::ipc::KeyedUnarchiver(archived->second, autoupdatekit::PrivilegedUpdateReply::className));
        return decoded ? decoded->message() : "no reply: it does not decode";
    } catch (const platform::ipc::IPCError& error) {
        return std::string("no reply: ") + error.what();
    }
}

std::string scheduleInstallWithin(const autoupdatekit::PrivilegedUpdateRequest& request, std::chrono::milliseconds timeout) {
    platform::FileDescriptor fd = connectToTestHelper();
    if (!fd.valid()) return "no reply: cannot connect";
    return scheduleInstallOn(fd.get(), request, timeout);
}

std::string helperLogMessages() { return timestampedMessages(readFileIfAny(testHelperLogPath)); }

bool waitForLogLine(const std::string& text, std::chrono::seconds timeout) {
    return waitUntil([&] { return helperLogMessages().find(text) != std::string::npos; }, timeout);
}

}  // namespace testsupport
