#pragma once
// The operating system's version: VERSION_ID of /etc/os-release as major.minor.patch.

#include <cstdint>
#include <string_view>

namespace platform {

struct OperatingSystemVersion {
    std::int64_t majorVersion = 0;
    std::int64_t minorVersion = 0;
    std::int64_t patchVersion = 0;
    bool operator==(const OperatingSystemVersion&) const = default;
};

// Parses os-release text; missing parts are 0.
OperatingSystemVersion parseOSRelease(std::string_view text);
OperatingSystemVersion operatingSystemVersion();

}  // namespace platform
