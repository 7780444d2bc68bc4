// Feeds arbitrary bytes to the helper's side of a connection: framed messages are
// read off a descriptor and handed to the exported interface, which decodes each
// request. Every read must give a message, the end, or the transport's own error;
// every request that decodes must survive encoding unchanged, and so must a reply.

#include "PrivilegedUpdateInterface.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/IPC/KeyedArchive.hpp"
#include "Platform/IPC/MessageStream.hpp"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
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
    // A file in memory reads as a connection whose peer sent the bytes and hung up, with
    // no socket buffer to fill and so no writer to run beside the reader.
    platform::FileDescriptor fd(::memfd_create("ipc-message", MFD_CLOEXEC));
    if (!fd.valid() || ::write(fd.get(), data, size) != static_cast<ssize_t>(size) || ::lseek(fd.get(), 0, SEEK_SET) != 0) {
        std::abort();
    }
    auto exported = makeExportedInterface(std::make_shared<CheckingHelper>());
    handleMessages(fd.get(), *exported);
    return 0;
}
