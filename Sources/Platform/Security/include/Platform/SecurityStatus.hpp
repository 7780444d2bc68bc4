#pragma once
// Status codes of the code-signing services. Zero is success; every failure is a fixed
// negative number with a fixed meaning, listed here and nowhere else.

#include <cstdint>
#include <optional>
#include <string>

namespace platform::security {

using OSStatus = std::int32_t;

inline constexpr OSStatus statusSuccess = 0;
// The path is not a bundle folder.
inline constexpr OSStatus statusNotABundle = -70001;
// The bundle carries no seal at all.
inline constexpr OSStatus statusUnsigned = -70002;
// The seal file does not parse or lacks a required field.
inline constexpr OSStatus statusSealCorrupt = -70003;
// The team identifier is not upper-case ASCII letters and digits.
inline constexpr OSStatus statusInvalidTeamIdentifier = -70004;
// The Ed25519 signature over the seal does not verify.
inline constexpr OSStatus statusSignatureInvalid = -70005;
// The signing key is not in the trust store for the claimed team.
inline constexpr OSStatus statusUntrustedKey = -70006;
// A file was added, removed or changed, or a mode or link target changed.
inline constexpr OSStatus statusResourcesModified = -70007;
// A symbolic link leaves the bundle (strict validation).
inline constexpr OSStatus statusLinkOutsideBundle = -70008;
// Nested code does not verify (deep validation).
inline constexpr OSStatus statusNestedCodeInvalid = -70009;
// The requirement is not met.
inline constexpr OSStatus statusRequirementFailed = -70010;
// The requirement text does not parse.
inline constexpr OSStatus statusRequirementSyntax = -70011;
// Flags outside the documented set.
inline constexpr OSStatus statusInvalidFlags = -70012;
// Reading the bundle failed (permissions, I/O).
inline constexpr OSStatus statusIOError = -70013;

// Authorization was refused or no way to ask for it was available.
inline constexpr OSStatus statusAuthorizationDenied = -70020;

// The message for a status; nothing for codes outside the list above.
std::optional<std::string> statusMessage(OSStatus status);

}  // namespace platform::security
