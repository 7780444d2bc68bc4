#pragma once
// The helper's errors. Each case has a fixed English description, which is what
// travels back to clients in replies and into the helper's log.

#include <exception>
#include <optional>
#include <string>

namespace privilegedhelper {

class HelperError : public std::exception {
public:
    enum class Case {
        missingPolicyValue,
        policyMismatch,
        appMissing,
        invalidBundleIdentifier,
        invalidTeamIdentifier,
        signatureInvalid,
        installFailed,
        launchAgentFailed,
        launchAgentNotConfigured,
        untrustedToolFolder,
    };

    static HelperError missingPolicyValue(std::string key) { return {Case::missingPolicyValue, std::move(key)}; }
    static HelperError policyMismatch(std::string message) { return {Case::policyMismatch, std::move(message)}; }
    static HelperError appMissing(std::string path) { return {Case::appMissing, std::move(path)}; }
    static HelperError invalidBundleIdentifier(std::string expected, std::optional<std::string> actual) {
        return {Case::invalidBundleIdentifier, std::move(expected), std::move(actual)};
    }
    static HelperError invalidTeamIdentifier(std::string expected, std::optional<std::string> actual) {
        return {Case::invalidTeamIdentifier, std::move(expected), std::move(actual)};
    }
    static HelperError signatureInvalid(std::string detail) { return {Case::signatureInvalid, std::move(detail)}; }
    static HelperError installFailed(std::string detail) { return {Case::installFailed, std::move(detail)}; }
    static HelperError launchAgentFailed(std::string detail) { return {Case::launchAgentFailed, std::move(detail)}; }
    static HelperError launchAgentNotConfigured() { return {Case::launchAgentNotConfigured, {}}; }
    static HelperError untrustedToolFolder(std::string folder, std::string reason) {
        return {Case::untrustedToolFolder, std::move(folder), std::move(reason)};
    }

    Case errorCase() const noexcept { return case_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }
    // The same case told in other words, such as a path shown as the client named it.
    HelperError withDescription(std::string description) const {
        HelperError error = *this;
        error.description_ = std::move(description);
        return error;
    }

private:
    HelperError(Case errorCase, std::string first, std::optional<std::string> second = std::nullopt);

    Case case_;
    std::string description_;
};

}  // namespace privilegedhelper
