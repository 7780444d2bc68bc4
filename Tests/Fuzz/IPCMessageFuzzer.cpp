// Feeds arbitrary bytes to the helper's side of a connection: framed messages are
// read off a real socket and handed to the exported interface, which decodes each
// request. Every read must give a message, the end, or the transport's own error;
// every request that decodes must survive encoding unchanged, and so must a reply.

#include "PrivilegedUpdateInterface.hpp"

#include "Platform/IPC/KeyedArchive.hpp"
#include "Platform/IPC/MessageStream.hpp"

#include <cstdint>
#include <cstdlib>
#include <sys/socket.h>
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
    if (size > 64 * 1024) return 0;  // stays within one socket buffer
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
    if (size > 0 && ::write(pair[1], data, size) != static_cast<ssize_t>(size)) std::abort();
    ::close(pair[1]);
    auto exported = makeExportedInterface(std::make_shared<CheckingHelper>());
    handleMessages(pair[0], *exported);
    ::close(pair[0]);
    return 0;
}
