#include "Platform/StaticCode.hpp"

#include "Platform/CodeSigning.hpp"

#include <sys/stat.h>

namespace platform::security {

OSStatus StaticCode::create(const FileURL& url, std::uint32_t flags, std::optional<StaticCode>& code) {
    code.reset();
    if (flags != 0) return statusInvalidFlags;
    struct stat status {};
    if (::stat(url.path().c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return statusNotABundle;
    code = StaticCode(url);
    return statusSuccess;
}

OSStatus StaticCode::checkValidity(std::uint32_t flags, const codesigning::CodeRequirement* requirement,
                                   std::optional<std::string>* errorDescription) const {
    auto report = [&](OSStatus status, const std::string& problem) {
        if (errorDescription) *errorDescription = problem;
        return status;
    };
    if ((flags & ~(checkAllArchitectures | checkNestedCode | strictValidate)) != 0) {
        return report(statusInvalidFlags, *statusMessage(statusInvalidFlags));
    }
    codesigning::VerifyOptions options{(flags & checkNestedCode) != 0, (flags & strictValidate) != 0, std::nullopt};
    codesigning::Verification verification = codesigning::verifyBundle(url_.path(), options);
    if (!verification.valid()) return report(verification.status, verification.problem);
    if (requirement) {
        const auto& seal = *verification.seal;
        codesigning::SigningFacts facts{seal.identifier, seal.teamIdentifier, seal.teamIdentifier.has_value()};
        if (!requirement->isSatisfiedBy(facts)) return report(statusRequirementFailed, *statusMessage(statusRequirementFailed));
    }
    return statusSuccess;
}

OSStatus StaticCode::copySigningInformation(std::uint32_t flags, std::optional<PropertyDictionary>& information) const {
    information.reset();
    if ((flags & ~signingInformation) != 0) return statusInvalidFlags;
    codesigning::Verification read = codesigning::readSeal(url_.path());
    if (read.status == statusUnsigned) {
        information = PropertyDictionary{};
        return statusSuccess;
    }
    if (!read.valid()) return read.status;
    PropertyDictionary dictionary{{codeInfoIdentifier, read.seal->identifier}};
    if (read.seal->teamIdentifier) dictionary[codeInfoTeamIdentifier] = *read.seal->teamIdentifier;
    information = std::move(dictionary);
    return statusSuccess;
}

}  // namespace platform::security
