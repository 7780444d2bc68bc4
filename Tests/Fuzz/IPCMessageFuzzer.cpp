// Feeds arbitrary bytes to the helper's side of a connection: framed messages are
// read off a real socket and handed to the exported interface, which decodes each
// request. Every read must give a message, the end, or the transport's own error;
// every request that decodes must survive encoding unchanged, and so must a reply.

#include "PrivilegedUpdateInterface.hpp"

#include "Platform/IPC/KeyedArchive.hpp"
#include "Platform/IPC/MessageStream.hpp"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace autoupdatekit;

template <typename Record>
void requireRoundTrip(const Record& record) {
    platform::ipc::KeyedArchiver coder(Record::className);
    record.encode(coder);
    auto again = Record::decode(platform::ipc::KeyedUnarchiver(platform::PropertyValue(coder.archive()), Record::className));
    if (!again || !(*again == record)) std::abort();
}

class CheckingHelper : public PrivilegedUpdateHelperProtocol {
public:
    void scheduleInstall(const PrivilegedUpdateRequest& request, Reply withReply) override {
        requireRoundTrip(request);
        withReply(PrivilegedUpdateReply(false, "checked"));
    }
    void installSystemLaunchAgent(Reply withReply) override { withReply(PrivilegedUpdateReply(false, "checked")); }
};

void handleMessages(int fd, platform::ipc::ExportedObject& exported) {
    try {
        while (auto message = platform::ipc::readMessage(fd)) {
            auto selector = message->find("selector");
            auto argument = message->find("argument");
            platform::PropertyValue argumentValue = argument == message->end() ? platform::PropertyValue() : argument->second;
            if (auto reply = PrivilegedUpdateReply::decode(platform::ipc::KeyedUnarchiver(argumentValue, PrivilegedUpdateReply::className))) {
                requireRoundTrip(*reply);
            }
            const std::string* name = selector == message->end() ? nullptr : selector->second.getIf<std::string>();
            if (name == nullptr || !exported.handle(*name, argumentValue, {}, [](const platform::PropertyDictionary&) {})) return;
        }
    } catch (const platform::ipc::IPCError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Up to one whole message of the largest size (the corpus holds such messages).
    if (size > 4 + platform::ipc::maximumMessageSize + 64) return 0;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
    auto writeAll = [&] {
        for (std::size_t done = 0; done < size;) {
            ssize_t count = ::write(pair[1], data + done, size - done);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) break;  // the reader ended the connection
            done += static_cast<std::size_t>(count);
        }
        ::close(pair[1]);
    };
    // What fits in one socket buffer is written at once; more, while the reader reads.
    constexpr std::size_t oneBuffer = 64 * 1024;
    std::thread writer;
    if (size <= oneBuffer) {
        writeAll();
    } else {
        writer = std::thread(writeAll);
    }
    auto exported = makeExportedInterface(std::make_shared<CheckingHelper>());
    handleMessages(pair[0], *exported);
    ::close(pair[0]);  // a writer still writing gets EPIPE (SIGPIPE is ignored below)
    if (writer.joinable()) writer.join();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::signal(SIGPIPE, SIG_IGN);
    return 0;
}
