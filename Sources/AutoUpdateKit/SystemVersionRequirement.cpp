#include "SystemVersionRequirement.hpp"

#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"

#include "Platform/SystemVersion.hpp"
#include "Platform/TextEncoding.hpp"

namespace autoupdatekit {

std::string currentSystemVersionString() {
    auto version = platform::operatingSystemVersion();
    return std::to_string(version.majorVersion) + "." + std::to_string(version.minorVersion) + "." +
           std::to_string(version.patchVersion);
}

void validateMinimumSystemVersion(const std::optional<std::string>& minimumSystemVersion) {
    if (!minimumSystemVersion || platform::trimmingWhitespaceAndNewlines(*minimumSystemVersion).empty()) return;
    std::string current = currentSystemVersionString();
    if (AppVersion::compareDotted(*minimumSystemVersion, current) == 1) {
        throw AutoUpdateError::unsupportedSystemVersion(*minimumSystemVersion, current);
    }
}

}  // namespace autoupdatekit
