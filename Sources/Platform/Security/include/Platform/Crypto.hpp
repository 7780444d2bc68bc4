#pragma once
// SHA-256, strict base64 and Ed25519 keys through OpenSSL.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using Bytes = std::vector<std::uint8_t>;
using Sha256Digest = std::array<std::uint8_t, 32>;

// An OpenSSL failure; what() carries OpenSSL's own reason.
class CryptoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Incremental SHA-256, for hashing in constant memory.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    // The digest of everything given since the last finish; the next update starts a
    // new message, so one object can hash many.
    Sha256Digest finish();

private:
    void* context_;
};

Sha256Digest sha256(std::string_view bytes);
// SHA-256 of a file's contents, read in blocks.
Sha256Digest sha256OfFile(const std::string& path);
// Reads the descriptor to its end in blocks; path names it in errors.
Sha256Digest sha256OfDescriptor(int fd, const std::string& path);
std::string hexLowercase(const std::uint8_t* bytes, std::size_t size);

std::string base64Encode(const Bytes& bytes);
// Standard alphabet with padding; any other character (white space included) fails.
std::optional<Bytes> base64Decode(std::string_view text);

// Ed25519 (RFC 8032).
class Ed25519PublicKey {
public:
    // Throws CryptoError when the bytes are not a 32-byte public key.
    explicit Ed25519PublicKey(const Bytes& raw);
    bool isValidSignature(const Bytes& signature, std::string_view message) const;
    const Bytes& raw() const noexcept { return raw_; }

private:
    Bytes raw_;
};

class Ed25519PrivateKey {
public:
    // Throws CryptoError when the bytes are not a 32-byte seed.
    explicit Ed25519PrivateKey(const Bytes& seed);
    static Ed25519PrivateKey generate();
    Bytes signature(std::string_view message) const;
    Ed25519PublicKey publicKey() const;
    const Bytes& seed() const noexcept { return seed_; }

private:
    Bytes seed_;
};

}  // namespace platform
