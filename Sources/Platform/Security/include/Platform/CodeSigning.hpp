#pragma once
// Signing and verifying bundles: the engine behind the codesign tool and StaticCode.

#include "Platform/CodeSeal.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/SecurityStatus.hpp"

#include <optional>
#include <stdexcept>
#include <string>

namespace platform::codesigning {

struct SigningIdentity {
    Ed25519PrivateKey key;
    std::string teamIdentifier;
};

class SigningError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Seals the bundle: with an identity, a team signature; without, an ad-hoc seal.
// Nested bundles must be signed already, unless deep is set, which signs them first
// (innermost first) with the same identity. Throws SigningError or SystemError.
void signBundle(const std::string& bundlePath, const std::optional<SigningIdentity>& identity, bool deep);

struct VerifyOptions {
    bool deep = false;    // verify nested bundles too
    bool strict = false;  // refuse symbolic links that leave the bundle
    // A public key trusted for whatever team a seal claims, besides the trust store:
    // for a publisher checking a build without root. The client and helper never set it.
    std::optional<Bytes> extraTrustedKey;
};

struct Verification {
    security::OSStatus status = security::statusSuccess;
    std::string problem;          // names the first problem found; empty when valid
    std::optional<CodeSeal> seal;  // when one could be read

    bool valid() const noexcept { return status == security::statusSuccess; }
};

// Checks, in order: the seal exists and parses; the team identifier's form; the
// signature; the key's trust for the team; every entry against the seal; (strict)
// links staying inside; (deep) nested bundles. Stops at the first problem.
Verification verifyBundle(const std::string& bundlePath, const VerifyOptions& options);

// Reads the seal without verifying it: statusUnsigned when there is none,
// statusSealCorrupt when it does not parse.
Verification readSeal(const std::string& bundlePath);

}  // namespace platform::codesigning
