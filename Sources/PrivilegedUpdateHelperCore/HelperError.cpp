#include "HelperError.hpp"

namespace privilegedhelper {
namespace {

std::string describe(HelperError::Case errorCase, const std::string& first, const std::optional<std::string>& second) {
    using Case = HelperError::Case;
    switch (errorCase) {
    case Case::missingPolicyValue: return "Missing helper policy value " + first + ".";
    case Case::policyMismatch: return first;
    case Case::appMissing: return "App bundle does not exist at " + first + ".";
    case Case::invalidBundleIdentifier:
        return "Bundle identifier mismatch. Expected " + first + ", got " + second.value_or("nil") + ".";
    case Case::invalidTeamIdentifier:
        return "Team identifier mismatch. Expected " + first + ", got " + second.value_or("nil") + ".";
    case Case::signatureInvalid: return "Signature check failed: " + first;
    case Case::installFailed: return "Install failed: " + first;
    case Case::launchAgentFailed: return "LaunchAgent install failed: " + first;
    case Case::launchAgentNotConfigured: return "LaunchAgent installation is not configured for this helper.";
    case Case::untrustedToolFolder: return "Untrusted tool folder " + first + ": " + second.value_or("") + ".";
    }
    return first;
}

}  // namespace

HelperError::HelperError(Case errorCase, std::string first, std::optional<std::string> second)
    : case_(errorCase), description_(describe(errorCase, first, second)) {}

}  // namespace privilegedhelper
