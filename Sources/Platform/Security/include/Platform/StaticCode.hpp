#pragma once
// Static code objects: what the system asks of a bundle's signature without running
// the codesign tool. Status codes are those of SecurityStatus.hpp.

#include "Platform/CodeRequirement.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/PropertyList.hpp"
#include "Platform/SecurityStatus.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace platform::security {

// Validity flags.
inline constexpr std::uint32_t checkAllArchitectures = 0x01;
inline constexpr std::uint32_t checkNestedCode = 0x08;
inline constexpr std::uint32_t strictValidate = 0x10;
// Signing-information flags.
inline constexpr std::uint32_t signingInformation = 0x02;
// Keys of the signing information dictionary.
inline constexpr const char* codeInfoIdentifier = "identifier";
inline constexpr const char* codeInfoTeamIdentifier = "teamid";

class StaticCode {
public:
    // Succeeds for any bundle folder, signed or not; statusNotABundle otherwise.
    static OSStatus create(const FileURL& url, std::uint32_t flags, std::optional<StaticCode>& code);

    // Verifies the signature (strict and nested checks as flagged) and, when given, the
    // requirement. On failure, errorDescription names the first problem.
    OSStatus checkValidity(std::uint32_t flags, const codesigning::CodeRequirement* requirement,
                           std::optional<std::string>* errorDescription) const;

    // The identifier and, for a team signature, the team identifier. An unsigned
    // bundle gives success and a dictionary without either.
    OSStatus copySigningInformation(std::uint32_t flags, std::optional<PropertyDictionary>& information) const;

    const FileURL& url() const noexcept { return url_; }

private:
    explicit StaticCode(FileURL url) : url_(std::move(url)) {}
    FileURL url_;
};

}  // namespace platform::security
