#include "Platform/IPC/MessageStream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::ipc {
namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

Deadline deadlineAfter(Timeout timeout) {
    if (!timeout) return std::nullopt;
    return Clock::now() + *timeout;
}

// Waits until fd is ready for events or the deadline passes (then throws).
void waitFor(int fd, short events, const Deadline& deadline, const char* what) {
    while (true) {
        int milliseconds = -1;
        if (deadline) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            milliseconds = static_cast<int>(std::max<decltype(left)>(0, std::min<decltype(left)>(left, 60'000)));
        }
        pollfd entry{fd, events, 0};
        int ready = ::poll(&entry, 1, milliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) throw IPCError(std::string("poll failed: ") + std::strerror(errno));
        if (ready > 0) return;  // readable, writable, closed or failed: the next call tells
        if (deadline && Clock::now() >= *deadline) throw IPCError(what);
    }
}

// Reads what has arrived, at most size bytes: 0 at end of stream.
std::size_t readSome(int fd, char* buffer, std::size_t size, const Deadline& deadline, const char* timedOut) {
    while (true) {
        waitFor(fd, POLLIN, deadline, timedOut);
        ssize_t count = ::read(fd, buffer, size);
        if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (count < 0) throw IPCError(std::string("read failed: ") + std::strerror(errno));
        return static_cast<std::size_t>(count);
    }
}

}  // namespace

void writeMessage(int fd, const PropertyDictionary& message, Timeout timeout) {
    std::string body = PropertyList::binary(PropertyValue(message));
    if (body.size() > maximumMessageSize) throw IPCError("message too large");
    auto size = static_cast<std::uint32_t>(body.size());
    std::string frame = {static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                         static_cast<char>(size)};
    frame += body;
    Deadline deadline = deadlineAfter(timeout);
    std::size_t done = 0;
    while (done < frame.size()) {
        if (deadline) waitFor(fd, POLLOUT, deadline, "the peer did not take the message in time");
        // MSG_NOSIGNAL: a peer that went away is an error here, not a SIGPIPE.
        ssize_t count = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL | (deadline ? MSG_DONTWAIT : 0));
        if (count < 0 && (errno == EINTR || (deadline && (errno == EAGAIN || errno == EWOULDBLOCK)))) continue;
        if (count < 0) throw IPCError(std::string("send failed: ") + std::strerror(errno));
        done += static_cast<std::size_t>(count);
    }
}

std::optional<PropertyDictionary> readMessage(int fd, Timeout idleTimeout, Timeout messageTimeout) {
    constexpr const char* idle = "no message came within the idle time";
    constexpr const char* slow = "the message did not arrive in time";
    unsigned char header[4];
    std::size_t got = readSome(fd, reinterpret_cast<char*>(header), sizeof header, deadlineAfter(idleTimeout), idle);
    if (got == 0) return std::nullopt;
    Deadline deadline = deadlineAfter(messageTimeout);  // from the message's first byte
    while (got < sizeof header) {
        std::size_t count = readSome(fd, reinterpret_cast<char*>(header) + got, sizeof header - got, deadline, slow);
        if (count == 0) throw IPCError("connection closed in the middle of a message");
        got += count;
    }
    std::uint32_t size = (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
                         (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
    if (size == 0 || size > maximumMessageSize) throw IPCError("message size out of bounds");
    std::string body;
    char chunk[messageReadChunkSize];
    while (body.size() < size) {
        std::size_t count = readSome(fd, chunk, std::min<std::size_t>(sizeof chunk, size - body.size()), deadline, slow);
        if (count == 0) throw IPCError("connection closed in the middle of a message");
        body.append(chunk, count);
    }
    try {
        PropertyValue value = PropertyList::read(body, maximumMessageValues);
        auto* dictionary = value.getIf<PropertyDictionary>();
        if (dictionary == nullptr) throw IPCError("message is not a dictionary");
        return std::move(*dictionary);
    } catch (const PropertyListError& error) {
        throw IPCError(std::string("malformed message: ") + error.what());
    }
}

}  // namespace platform::ipc
