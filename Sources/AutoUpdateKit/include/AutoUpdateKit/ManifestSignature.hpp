#pragma once
// Ed25519 signatures over the canonical payload bytes. Keys and signatures travel as
// base64 text, trimmed of white space at both ends only and then decoded strictly.

#include "AutoUpdateKit/Export.hpp"
#include "AutoUpdateKit/UpdateManifest.hpp"

#include <exception>
#include <string>

namespace autoupdatekit {

class AUTOUPDATEKIT_EXPORT ManifestSignatureError : public std::exception {
public:
    enum class Case { invalidPublicKey, invalidPrivateKey, invalidSignature };

    explicit ManifestSignatureError(Case errorCase) noexcept : case_(errorCase) {}
    Case errorCase() const noexcept { return case_; }
    const char* description() const noexcept;
    const char* what() const noexcept override { return description(); }
    bool operator==(const ManifestSignatureError& other) const noexcept { return case_ == other.case_; }

private:
    Case case_;
};

namespace ManifestSignature {

// The base64 signature of the payload's canonical bytes. A key text that is not strict
// base64 fails with invalidPrivateKey; one of the wrong length with the Ed25519
// facility's own key-size error.
AUTOUPDATEKIT_EXPORT std::string sign(const UpdateManifestPayload& payload, const std::string& privateKeyBase64);

// Whether the signature is valid for the payload's canonical bytes. Fails, in this
// order, with invalidPublicKey, invalidSignature, or the key-size error; a signature
// of the wrong length or that does not match gives false.
AUTOUPDATEKIT_EXPORT bool verify(const SignedUpdateManifest& manifest, const std::string& publicKeyBase64);

}  // namespace ManifestSignature
}  // namespace autoupdatekit
