#include "AutoUpdateKit/PrivilegedHelperBlesser.hpp"

#include "Platform/Bundle.hpp"
#include "Platform/Process.hpp"
#include "Platform/ServiceManagement.hpp"
#include "Platform/ToolPaths.hpp"

#include <optional>

namespace autoupdatekit {

namespace servicemanagement = platform::servicemanagement;

PrivilegedHelperBlesserError PrivilegedHelperBlesserError::authorizationCreateFailed(std::int32_t status) {
    return {Case::authorizationCreateFailed,
            "Could not create authorization for the privileged helper. OSStatus " + std::to_string(status) + "."};
}

PrivilegedHelperBlesserError PrivilegedHelperBlesserError::blessFailed(const std::string& message) {
    return {Case::blessFailed, "Could not install the privileged helper: " + message};
}

namespace PrivilegedHelperBlesser {

bool isInstalled(const std::string& label) {
    try {
        // The output is discarded, not piped: an unread pipe would stall a chatty tool.
        return platform::runDiscardingOutput(platform::paths::launchctl(), {"print", "system/" + label}) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

void ensureInstalled(const std::string& label) { ensureInstalled(label, platform::Bundle::main().bundleURL()); }

void ensureInstalled(const std::string& label, const platform::FileURL& appBundle) {
    if (isInstalled(label)) return;
    std::optional<servicemanagement::Authorization> authorization;
    auto status = servicemanagement::Authorization::create(servicemanagement::authorizationInteractionAllowed |
                                                               servicemanagement::authorizationExtendRights |
                                                               servicemanagement::authorizationPreAuthorize,
                                                           authorization);
    if (status != 0 || !authorization) throw PrivilegedHelperBlesserError::authorizationCreateFailed(status);
    std::optional<std::string> error;
    bool blessed = servicemanagement::jobBless(label, appBundle, *authorization, error);
    authorization->free(0);
    if (!blessed) throw PrivilegedHelperBlesserError::blessFailed(error.value_or("Unknown SMJobBless error."));
}

}  // namespace PrivilegedHelperBlesser
}  // namespace autoupdatekit
