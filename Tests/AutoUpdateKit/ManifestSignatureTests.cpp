#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"

#include "Files.hpp"
#include "ManifestSamples.hpp"
#include "SigningKeys.hpp"

#include "Platform/Crypto.hpp"

#include <functional>
#include <gtest/gtest.h>

using namespace autoupdatekit;
using testsupport::samplePayload;
using Case = ManifestSignatureError::Case;

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

TEST(ManifestSignature, SignaturesVerifyAndAnyPayloadChangeBreaksThem) {
    KeyPair keys = makeKeys();
    auto payload = samplePayload();
    std::string signature = ManifestSignature::sign(payload, keys.privateKey);
    EXPECT_EQ(signature.size(), 88u);
    EXPECT_EQ(signature.substr(86), "==");
    EXPECT_TRUE(ManifestSignature::verify({payload, signature}, keys.publicKey));
    EXPECT_FALSE(ManifestSignature::verify({payload, signature}, makeKeys().publicKey));

    auto changes = std::vector<std::function<void(UpdateManifestPayload&)>>{
        [](auto& p) { p.version = "2.4.1"; },
        [](auto& p) { p.archiveSHA256[0] = 'a'; },
        [](auto& p) { p.archiveURL = *autoupdatekit::URL::parse("https://evil.example.com/Sample-2.4.0.zip"); },
        [](auto& p) { p.releaseNotes = ""; },
        [](auto& p) { p.minimumSystemVersion.reset(); },
    };
    for (std::size_t index = 0; index < changes.size(); ++index) {
        auto changed = payload;
        changes[index](changed);
        EXPECT_FALSE(ManifestSignature::verify({changed, signature}, keys.publicKey)) << "change " << index;
    }

    // The document a publisher ships verifies after any re-layout on the way.
    std::string document = ManifestCoding::manifestData({payload, signature});
    std::string relaid = "{\"extra\":1," + document.substr(1);
    EXPECT_TRUE(ManifestSignature::verify(ManifestCoding::makeDecoder().decodeManifest(relaid), keys.publicKey));
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

TEST(ManifestSignature, AgreesWithAnIndependentEd25519Implementation) {
    testsupport::TemporaryDirectory folder;
    auto key = platform::Ed25519PrivateKey::generate();
    auto payload = samplePayload();
    testsupport::writeFile(folder / "message", ManifestCoding::canonicalPayloadData(payload));
    // PKCS#8 wrapping of the raw seed, so openssl can read our key.
    std::string der("\x30\x2e\x02\x01\x00\x30\x05\x06\x03\x2b\x65\x70\x04\x22\x04\x20", 16);
    der.append(key.seed().begin(), key.seed().end());
    testsupport::writeFile(folder / "key.der", der);
    testsupport::openssl({"pkey", "-inform", "DER", "-in", folder / "key.der", "-out", folder / "key.pem"});
    testsupport::openssl({"pkeyutl", "-sign", "-rawin", "-inkey", folder / "key.pem", "-in", folder / "message", "-out", folder / "signature"});
    ASSERT_TRUE(testsupport::exists(folder / "signature"));
    std::string raw = testsupport::readFile(folder / "signature");
    std::string signature = platform::base64Encode(platform::Bytes(raw.begin(), raw.end()));
    std::string publicKey = platform::base64Encode(key.publicKey().raw());
    EXPECT_TRUE(ManifestSignature::verify({payload, signature}, publicKey));
    EXPECT_EQ(signature, ManifestSignature::sign(payload, platform::base64Encode(key.seed())));
}
