#include "Platform/SecurityStatus.hpp"

namespace platform::security {

std::optional<std::string> statusMessage(OSStatus status) {
    switch (status) {
    case statusSuccess: return "No error.";
    case statusNotABundle: return "The path is not a bundle.";
    case statusUnsigned: return "code object is not signed at all";
    case statusSealCorrupt: return "the code signature's resource seal is corrupt";
    case statusInvalidTeamIdentifier: return "the team identifier is invalid";
    case statusSignatureInvalid: return "the code signature is invalid";
    case statusUntrustedKey: return "the signing key is not trusted for its team";
    case statusResourcesModified: return "a sealed resource is missing or invalid";
    case statusLinkOutsideBundle: return "a symbolic link points outside the bundle";
    case statusNestedCodeInvalid: return "nested code is modified or invalid";
    case statusRequirementFailed: return "the code does not satisfy the requirement";
    case statusRequirementSyntax: return "the requirement text is invalid";
    case statusInvalidFlags: return "invalid flags";
    case statusIOError: return "the bundle could not be read";
    case statusAuthorizationDenied: return "the authorization was denied";
    default: return std::nullopt;
    }
}

}  // namespace platform::security
