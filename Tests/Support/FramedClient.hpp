#pragma once
// Raw connections to the test helper's socket, for tests that send what no client
// would (oversized, nested, slow or endless messages), and a framed scheduleInstall
// call whose every wait is bounded, so a helper that stops answering fails the test
// instead of hanging it.

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "Platform/FileDescriptor.hpp"

#include <chrono>
#include <string>
#include <string_view>

namespace testsupport {

// A new connection to the test helper; not valid when the connect fails.
platform::FileDescriptor connectToTestHelper();

// Sends all bytes (blocking); false once the helper has ended the connection.
bool sendAll(int fd, std::string_view bytes);

// Whether the helper ends the connection within the timeout (what it sends is dropped).
bool closedByPeerWithin(int fd, std::chrono::milliseconds timeout);

// Sends a well-formed scheduleInstall message on fd and waits at most timeout for its
// reply: the reply's message text, or "no reply: " and why.
std::string scheduleInstallOn(int fd, const autoupdatekit::PrivilegedUpdateRequest& request, std::chrono::milliseconds timeout);

// The same on a new connection of its own.
std::string scheduleInstallWithin(const autoupdatekit::PrivilegedUpdateRequest& request, std::chrono::milliseconds timeout);

}  // namespace testsupport
