#pragma once
// UUIDs and timestamps in the forms the system writes.

#include <chrono>
#include <optional>
#include <string>

namespace platform {

// A random UUID in upper-case standard text (8-4-4-4-12).
std::string makeUUIDString();

// "2026-12-07T00:20:04Z": ISO 8601, UTC, whole seconds. Instants are kept in whole
// seconds, whose range covers every four-digit year.
std::string iso8601UTC(std::chrono::sys_seconds time);

// Parses ISO 8601 internet date-time text: "YYYY-MM-DDTHH:MM:SS" then "Z" or a numeric
// offset ("+01:00", "-0530"). Fractional seconds and anything else give nothing.
std::optional<std::chrono::sys_seconds> parseISO8601(const std::string& text);

}  // namespace platform
