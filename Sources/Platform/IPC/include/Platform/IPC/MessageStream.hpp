#pragma once
// Messages on a stream socket: a 4-byte big-endian length, then a binary property list
// holding one dictionary. Messages above the size limit, truncated ones, ones that do
// not parse and ones that do not arrive in time end the connection that carried them.

#include "Platform/PropertyList.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <stdexcept>

namespace platform::ipc {

inline constexpr std::size_t maximumMessageSize = 1024 * 1024;
// A message holds a selector, a reply identifier and one archived record: a few dozen
// values at most. A message naming more is refused before it is parsed, so that no
// message costs much more memory than its own bytes.
inline constexpr std::size_t maximumMessageValues = 4096;
// A message's buffer grows by at most this much per read, as its bytes arrive; the
// announced length is never allocated up front.
inline constexpr std::size_t messageReadChunkSize = 64 * 1024;

class IPCError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A time limit; nothing means none.
using Timeout = std::optional<std::chrono::milliseconds>;

// Writes one message within the timeout; throws IPCError when the peer is gone or the
// time is up.
void writeMessage(int fd, const PropertyDictionary& message, Timeout timeout = std::nullopt);

// Reads one message; nothing at a clean end of stream before a message starts.
// Throws IPCError for a truncated, oversized or malformed message, when no message
// starts within idleTimeout, or when one that started is not whole within
// messageTimeout of its first byte.
std::optional<PropertyDictionary> readMessage(int fd, Timeout idleTimeout = std::nullopt, Timeout messageTimeout = std::nullopt);

}  // namespace platform::ipc
