#include "Platform/IPC/MessageStream.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::ipc {
namespace {

// Reads exactly size bytes; false at end of stream before the first byte.
bool readExactly(int fd, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t count = ::read(fd, buffer + done, size - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) throw IPCError(std::string("read failed: ") + std::strerror(errno));
        if (count == 0) {
            if (done == 0) return false;
            throw IPCError("connection closed in the middle of a message");
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

}  // namespace

void writeMessage(int fd, const PropertyDictionary& message) {
    std::string body = PropertyList::binary(PropertyValue(message));
    if (body.size() > maximumMessageSize) throw IPCError("message too large");
    auto size = static_cast<std::uint32_t>(body.size());
    std::string frame = {static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                         static_cast<char>(size)};
    frame += body;
    std::size_t done = 0;
    while (done < frame.size()) {
        // MSG_NOSIGNAL: a peer that went away is an error here, not a SIGPIPE.
        ssize_t count = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) throw IPCError(std::string("send failed: ") + std::strerror(errno));
        done += static_cast<std::size_t>(count);
    }
}

std::optional<PropertyDictionary> readMessage(int fd) {
    unsigned char header[4];
    if (!readExactly(fd, reinterpret_cast<char*>(header), sizeof header)) return std::nullopt;
    std::uint32_t size = (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
                         (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
    if (size == 0 || size > maximumMessageSize) throw IPCError("message size out of bounds");
    std::string body(size, '\0');
    if (!readExactly(fd, body.data(), size)) throw IPCError("connection closed in the middle of a message");
    try {
        PropertyValue value = PropertyList::read(body);
        auto* dictionary = value.getIf<PropertyDictionary>();
        if (dictionary == nullptr) throw IPCError("message is not a dictionary");
        return std::move(*dictionary);
    } catch (const PropertyListError& error) {
        throw IPCError(std::string("malformed message: ") + error.what());
    }
}

}  // namespace platform::ipc
