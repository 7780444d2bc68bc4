#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"

#include "Files.hpp"
#include "ReleaseBuilder.hpp"
#include "SigningKeys.hpp"

#include "Platform/Crypto.hpp"

#include <gtest/gtest.h>

using namespace autoupdatekit;
using testsupport::samplePayload;

namespace {

struct KeyPair {
    std::string privateKey;
    std::string publicKey;
};

KeyPair makeKeys() {
    auto key = platform::Ed25519PrivateKey::generate();
    return {platform::base64Encode(key.seed()), platform::base64Encode(key.publicKey().raw())};
}

std::string base64OfLength(std::size_t length) { return platform::base64Encode(platform::Bytes(length, 0x42)); }

// Runs verify and reports which error case it failed with, "key size" for the Ed25519
// facility's own error, or the result.
std::string outcome(const SignedUpdateManifest& manifest, const std::string& publicKey) {
    try {
        return ManifestSignature::verify(manifest, publicKey) ? "true" : "false";
    } catch (const ManifestSignatureError& error) {
        return error.description();
    } catch (const platform::CryptoError&) {
        return "key size";
    }
}

}  // namespace

// Signatures verify, agree with an independent Ed25519 implementation (openssl's), and
// break with any change to the payload or the key.
TEST(ManifestSignature, SignaturesVerifyAgreeWithOpensslAndAnyPayloadChangeBreaksThem) {
    auto key = platform::Ed25519PrivateKey::generate();
    const std::string publicKey = platform::base64Encode(key.publicKey().raw());
    auto payload = samplePayload();
    std::string signature = ManifestSignature::sign(payload, platform::base64Encode(key.seed()));
    EXPECT_TRUE(ManifestSignature::verify({payload, signature}, publicKey));
    EXPECT_FALSE(ManifestSignature::verify({payload, signature}, makeKeys().publicKey));
    // An empty text is not an absent one.
    auto changed = payload;
    changed.releaseNotes = "";
    EXPECT_FALSE(ManifestSignature::verify({changed, signature}, publicKey));

    // The document a publisher ships verifies after any re-layout on the way.
    std::string document = ManifestCoding::manifestData({payload, signature});
    std::string relaid = "{\"extra\":1," + document.substr(1);
    EXPECT_TRUE(ManifestSignature::verify(ManifestCoding::makeDecoder().decodeManifest(relaid), publicKey));

    testsupport::TemporaryDirectory folder;
    testsupport::writeFile(folder / "message", ManifestCoding::canonicalPayloadData(payload));
    // PKCS#8 wrapping of the raw seed, so openssl can read our key.
    std::string der("\x30\x2e\x02\x01\x00\x30\x05\x06\x03\x2b\x65\x70\x04\x22\x04\x20", 16);
    der.append(key.seed().begin(), key.seed().end());
    testsupport::writeFile(folder / "key.der", der);
    testsupport::openssl({"pkey", "-inform", "DER", "-in", folder / "key.der", "-out", folder / "key.pem"});
    testsupport::openssl({"pkeyutl", "-sign", "-rawin", "-inkey", folder / "key.pem", "-in", folder / "message", "-out", folder / "signature"});
    std::string raw = testsupport::readFileIfAny(folder / "signature");
    EXPECT_EQ(platform::base64Encode(platform::Bytes(raw.begin(), raw.end())), signature);
}

TEST(ManifestSignature, Base64IsTrimmedAtTheEndsOnlyAndErrorsComeInOrder) {
    KeyPair keys = makeKeys();
    auto payload = samplePayload();
    std::string signature = ManifestSignature::sign(payload, " \n" + keys.privateKey + "\r\n");
    const std::string badText = "not base64!";
    struct Row {
        std::string publicKey;
        std::string signature;
        std::string expected;
    };
    const Row rows[] = {
        {keys.publicKey + "\n", "  " + signature + "\t\n", "true"},
        {keys.publicKey.substr(0, 20) + "\n" + keys.publicKey.substr(20), signature,
         "The manifest public key is not valid base64 Ed25519 data."},
        {base64OfLength(31), badText, "The manifest signature is not valid base64 Ed25519 data."},
        {base64OfLength(31), signature, "key size"},
        {keys.publicKey, base64OfLength(63), "false"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(outcome({payload, row.signature}, row.publicKey), row.expected) << row.publicKey << " / " << row.signature;
    }
    EXPECT_THROW(ManifestSignature::sign(payload, base64OfLength(16)), platform::CryptoError);
}
