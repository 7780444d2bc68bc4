#include "AutoUpdateKit/ManifestSignature.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/TextEncoding.hpp"

namespace autoupdatekit {
namespace {

std::optional<platform::Bytes> decodeBase64(const std::string& text) {
    return platform::base64Decode(platform::trimmingWhitespaceAndNewlines(text));
}

}  // namespace

const char* ManifestSignatureError::description() const noexcept {
    switch (case_) {
    case Case::invalidPublicKey: return "The manifest public key is not valid base64 Ed25519 data.";
    case Case::invalidPrivateKey: return "The manifest private key is not valid base64 Ed25519 data.";
    case Case::invalidSignature: return "The manifest signature is not valid base64 Ed25519 data.";
    }
    return "";
}

namespace ManifestSignature {

std::string sign(const UpdateManifestPayload& payload, const std::string& privateKeyBase64) {
    auto seed = decodeBase64(privateKeyBase64);
    if (!seed) throw ManifestSignatureError(ManifestSignatureError::Case::invalidPrivateKey);
    platform::Ed25519PrivateKey key(*seed);
    std::string message = ManifestCoding::makeEncoder().encode(payload);
    return platform::base64Encode(key.signature(message));
}

bool verify(const SignedUpdateManifest& manifest, const std::string& publicKeyBase64) {
    auto keyBytes = decodeBase64(publicKeyBase64);
    if (!keyBytes) throw ManifestSignatureError(ManifestSignatureError::Case::invalidPublicKey);
    auto signature = decodeBase64(manifest.signature);
    if (!signature) throw ManifestSignatureError(ManifestSignatureError::Case::invalidSignature);
    platform::Ed25519PublicKey key(*keyBytes);
    std::string message = ManifestCoding::makeEncoder().encode(manifest.payload);
    return key.isValidSignature(*signature, message);
}

}  // namespace ManifestSignature
}  // namespace autoupdatekit
