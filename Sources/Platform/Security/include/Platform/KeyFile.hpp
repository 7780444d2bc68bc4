#pragma once
// Ed25519 key files, as publishers keep them.
//
// A private key is PKCS#8 PEM ("BEGIN PRIVATE KEY", what `openssl pkey` reads and
// writes) or, as older versions wrote it, the base64 text of its 32-byte seed. A public
// key is the base64 text of its 32 bytes (the form of Info.plist and the trust store)
// or PEM ("BEGIN PUBLIC KEY"). White space around the text is ignored.

#include "Platform/Crypto.hpp"

#include <string>

namespace platform {

// The key as unencrypted PKCS#8 PEM text.
std::string privateKeyPEM(const Ed25519PrivateKey& key);

// The key a key file's text holds; origin names the file in errors (CryptoError).
// A public key where a private key belongs is refused by name: PEM says what it holds,
// and bare base64, which looks the same for both halves, counts as public in a file
// named *.pub. The reverse mistake, a private key given as a public key, is refused
// the same way for PEM.
Ed25519PrivateKey privateKeyFromText(const std::string& text, const std::string& origin);
Ed25519PublicKey publicKeyFromText(const std::string& text, const std::string& origin);

Ed25519PrivateKey readPrivateKeyFile(const std::string& path);
Ed25519PublicKey readPublicKeyFile(const std::string& path);

}  // namespace platform
