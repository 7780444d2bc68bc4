#pragma once
// UUIDs and timestamps in the forms the system writes.

#include <chrono>
#include <string>

namespace platform {

// A random UUID in upper-case standard text (8-4-4-4-12).
std::string makeUUIDString();

// "2026-12-07T00:20:04Z": ISO 8601, UTC, whole seconds.
std::string iso8601UTC(std::chrono::system_clock::time_point time);

}  // namespace platform
