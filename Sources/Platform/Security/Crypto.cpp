#include "Platform/Crypto.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/ReadBuffer.hpp"
#include "Platform/SystemError.hpp"

#include <fcntl.h>
#include <memory>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <sys/stat.h>

namespace platform {
namespace {

constexpr std::size_t ed25519KeySize = 32;
constexpr std::size_t ed25519SignatureSize = 64;

[[noreturn]] void throwCryptoError(const std::string& operation) {
    unsigned long code = ERR_get_error();
    char reason[256] = "unknown error";
    if (code != 0) ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    throw CryptoError(operation + ": " + reason);
}

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct SigningContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using SigningContext = std::unique_ptr<EVP_MD_CTX, SigningContextDeleter>;

// Fetched once: an implicit fetch on every init takes a lock that hashing threads share.
const EVP_MD* sha256Algorithm() {
    static EVP_MD* algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return algorithm;
}

}  // namespace

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr || sha256Algorithm() == nullptr ||
        EVP_DigestInit_ex2(static_cast<EVP_MD_CTX*>(context_), sha256Algorithm(), nullptr) != 1) {
        EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
        throwCryptoError("SHA-256");
    }
}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_)); }

void Sha256::update(const void* data, std::size_t size) {
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, size) != 1) throwCryptoError("SHA-256");
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    auto* context = static_cast<EVP_MD_CTX*>(context_);
    if (EVP_DigestFinal_ex(context, digest.data(), &length) != 1 || EVP_DigestInit_ex2(context, nullptr, nullptr) != 1) {
        throwCryptoError("SHA-256");
    }
    return digest;
}

Sha256Digest sha256(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return hash.finish();
}

Sha256Digest sha256OfFile(const std::string& path) {
    // O_NONBLOCK and the type check: a file swapped for a FIFO after the caller looked
    // at it must fail, not wait for a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid()) throwSystemError("open " + path);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) throwSystemError("stat " + path);
    if (!S_ISREG(status.st_mode)) throw SystemError("not a regular file: " + path, EINVAL);
    return sha256OfDescriptor(fd.get(), path);
}

Sha256Digest sha256OfDescriptor(int fd, const std::string& path) {
    Sha256 hash;
    ReadBuffer buffer(1024 * 1024);
    readInBlocks(fd, buffer, path, [&](const char* bytes, std::size_t size) { hash.update(bytes, size); });
    return hash.finish();
}

std::string hexLowercase(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t index = 0; index < size; ++index) {
        text += digits[bytes[index] >> 4];
        text += digits[bytes[index] & 0x0F];
    }
    return text;
}

std::string base64Encode(const Bytes& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3), '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    for (std::size_t index = 0; index < text.size(); ++index) {
        char c = text[index];
        bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
        bool padding = c == '=' && index + 2 >= text.size() && (index + 1 == text.size() || text[index + 1] == '=');
        if (!alphabet && !padding) return std::nullopt;
    }
    Bytes bytes(text.size() / 4 * 3);
    int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

Ed25519PublicKey::Ed25519PublicKey(const Bytes& raw) : raw_(raw) {
    if (raw_.size() != ed25519KeySize) {
        throw CryptoError("an Ed25519 public key is 32 bytes, not " + std::to_string(raw_.size()));
    }
}

bool Ed25519PublicKey::isValidSignature(const Bytes& signature, std::string_view message) const {
    if (signature.size() != ed25519SignatureSize) return false;
    Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw_.data(), raw_.size()));
    if (!key) throwCryptoError("Ed25519 public key");
    SigningContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        throwCryptoError("Ed25519 verify");
    }
    int result = EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                                  reinterpret_cast<const unsigned char*>(message.data()), message.size());
    ERR_clear_error();
    return result == 1;
}

Ed25519PrivateKey::Ed25519PrivateKey(const Bytes& seed) : seed_(seed) {
    if (seed_.size() != ed25519KeySize) {
        throw CryptoError("an Ed25519 private key is 32 bytes, not " + std::to_string(seed_.size()));
    }
}

Ed25519PrivateKey Ed25519PrivateKey::generate() {
    EVP_PKEY* raw = nullptr;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr),
                                                                        &EVP_PKEY_CTX_free);
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 || EVP_PKEY_keygen(context.get(), &raw) != 1) {
        throwCryptoError("Ed25519 key generation");
    }
    Key key(raw);
    Bytes seed(ed25519KeySize);
    std::size_t length = seed.size();
    if (EVP_PKEY_get_raw_private_key(key.get(), seed.data(), &length) != 1) throwCryptoError("Ed25519 key generation");
    return Ed25519PrivateKey(seed);
}

Bytes Ed25519PrivateKey::signature(std::string_view message) const {
    Key key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed_.data(), seed_.size()));
    SigningContext context(EVP_MD_CTX_new());
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        throwCryptoError("Ed25519 sign");
    }
    Bytes signature(ed25519SignatureSize);
    std::size_t length = signature.size();
    if (EVP_DigestSign(context.get(), signature.data(), &length, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
        throwCryptoError("Ed25519 sign");
    }
    return signature;
}

Ed25519PublicKey Ed25519PrivateKey::publicKey() const {
    Key key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed_.data(), seed_.size()));
    if (!key) throwCryptoError("Ed25519 private key");
    Bytes raw(ed25519KeySize);
    std::size_t length = raw.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), raw.data(), &length) != 1) throwCryptoError("Ed25519 public key");
    return Ed25519PublicKey(raw);
}

}  // namespace platform
