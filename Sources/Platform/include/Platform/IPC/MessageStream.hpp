#pragma once
// Messages on a stream socket: a 4-byte big-endian length, then a binary property list
// holding one dictionary. Messages above the size limit, truncated ones and ones that
// do not parse end the connection that carried them.

#include "Platform/PropertyList.hpp"

#include <cstddef>
#include <optional>
#include <stdexcept>

namespace platform::ipc {

inline constexpr std::size_t maximumMessageSize = 1024 * 1024;

class IPCError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes one message; throws IPCError when the peer is gone.
void writeMessage(int fd, const PropertyDictionary& message);

// Reads one message; nothing at a clean end of stream before a message starts.
// Throws IPCError for a truncated, oversized or malformed message.
std::optional<PropertyDictionary> readMessage(int fd);

}  // namespace platform::ipc
