#include "Platform/KeyFile.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/TextEncoding.hpp"

#include <memory>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace platform {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using MemoryBuffer = std::unique_ptr<BIO, decltype(&BIO_free)>;

constexpr const char* privateLabel = "PRIVATE KEY";
constexpr const char* publicLabel = "PUBLIC KEY";

struct PemBlock {
    std::string label;
    std::string der;
};

bool isPem(const std::string& text) { return text.rfind("-----BEGIN ", 0) == 0; }

PemBlock readPem(const std::string& text) {
    MemoryBuffer buffer(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), &BIO_free);
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;
    bool read = buffer && PEM_read_bio(buffer.get(), &name, &header, &data, &length) == 1;
    ERR_clear_error();
    if (!read) throw CryptoError("not readable PEM text");
    PemBlock block{name, std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length))};
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
    return block;
}

// The raw 32 bytes of an Ed25519 key in DER, public or private.
Bytes rawKey(const PemBlock& block) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.der.data());
    auto length = static_cast<long>(block.der.size());
    bool isPrivate = block.label == privateLabel;
    Key key(isPrivate ? d2i_AutoPrivateKey(nullptr, &bytes, length) : d2i_PUBKEY(nullptr, &bytes, length), &EVP_PKEY_free);
    ERR_clear_error();
    if (!key) throw CryptoError("the PEM " + block.label + " does not decode");
    if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) throw CryptoError("not an Ed25519 key");
    Bytes raw(32);
    std::size_t size = raw.size();
    int got = isPrivate ? EVP_PKEY_get_raw_private_key(key.get(), raw.data(), &size)
                        : EVP_PKEY_get_raw_public_key(key.get(), raw.data(), &size);
    ERR_clear_error();
    if (got != 1) throw CryptoError("not an Ed25519 key");
    raw.resize(size);
    return raw;
}

// The 32 bytes of the key in the text, after checking it is the expected half.
Bytes keyBytes(const std::string& fileText, const std::string& origin, bool wantPrivate) {
    std::string text = trimmingWhitespaceAndNewlines(fileText);
    if (isPem(text)) {
        PemBlock block = readPem(text);
        if (wantPrivate && block.label == publicLabel) {
            throw CryptoError("this is a public key; signing needs the private key (PKCS#8 PEM or base64 seed)");
        }
        if (!wantPrivate && block.label == privateLabel) {
            throw CryptoError("this is a private key; give its public key (base64 or PEM), never the private key");
        }
        if (block.label != privateLabel && block.label != publicLabel) {
            throw CryptoError("PEM \"" + block.label + "\" is not an unencrypted Ed25519 key");
        }
        return rawKey(block);
    }
    if (wantPrivate && origin.size() > 4 && origin.compare(origin.size() - 4, 4, ".pub") == 0) {
        throw CryptoError("a .pub file holds a public key; signing needs the private key (PKCS#8 PEM or base64 seed)");
    }
    auto bytes = base64Decode(text);
    if (!bytes) throw CryptoError("neither PEM nor base64 key text");
    return *bytes;
}

template <typename KeyType>
KeyType keyFromText(const std::string& text, const std::string& origin, bool wantPrivate) {
    try {
        return KeyType(keyBytes(text, origin, wantPrivate));
    } catch (const CryptoError& error) {
        throw CryptoError(origin + ": " + error.what());
    }
}

}  // namespace

std::string privateKeyPEM(const Ed25519PrivateKey& key) {
    Key pkey(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key.seed().data(), key.seed().size()), &EVP_PKEY_free);
    MemoryBuffer buffer(BIO_new(BIO_s_mem()), &BIO_free);
    if (!pkey || !buffer || PEM_write_bio_PrivateKey(buffer.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        ERR_clear_error();
        throw CryptoError("cannot write the private key as PEM");
    }
    char* data = nullptr;
    long length = BIO_get_mem_data(buffer.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

Ed25519PrivateKey privateKeyFromText(const std::string& text, const std::string& origin) {
    return keyFromText<Ed25519PrivateKey>(text, origin, true);
}

Ed25519PublicKey publicKeyFromText(const std::string& text, const std::string& origin) {
    return keyFromText<Ed25519PublicKey>(text, origin, false);
}

Ed25519PrivateKey readPrivateKeyFile(const std::string& path) { return privateKeyFromText(readWholeFile(path), path); }

Ed25519PublicKey readPublicKeyFile(const std::string& path) { return publicKeyFromText(readWholeFile(path), path); }

}  // namespace platform
