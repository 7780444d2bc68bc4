// Decoding and verifying a typical signed manifest against a bare Ed25519 verify of the
// same canonical bytes, both in process.

#include "Support/Comparison.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/Identifiers.hpp"

#include <openssl/evp.h>

namespace {

const bool verifyGoal = bench::registerGoal({"manifest decode+verify vs Ed25519", 1.3, "at most 1.3x the bare verify"});

struct SignedDocument {
    std::string document;
    std::string canonical;
    platform::Bytes signature;
    platform::Bytes publicKey;
    std::string publicKeyBase64;
};

const SignedDocument& typicalManifest() {
    static const SignedDocument signedDocument = [] {
        auto key = platform::Ed25519PrivateKey::generate();
        autoupdatekit::UpdateManifestPayload payload{
            2,
            "Example Editor",
            "com.example.editor",
            "3.12.1",
            "3121",
            "11.0",
            *autoupdatekit::URL::parse("https://downloads.example.com/editor/Example-Editor-3.12.1.zip"),
            "Example-Editor-3.12.1.zip",
            std::string(64, 'c'),
            48213504,
            *platform::parseISO8601("2026-11-30T17:05:00Z"),
            "Faster start-up.\nFixes printing on some systems.",
        };
        std::string signature = autoupdatekit::ManifestSignature::sign(payload, platform::base64Encode(key.seed()));
        std::string canonical = autoupdatekit::ManifestCoding::canonicalPayloadData(payload);
        return SignedDocument{autoupdatekit::ManifestCoding::manifestData({payload, signature}), canonical,
                              *platform::base64Decode(signature), key.publicKey().raw(),
                              platform::base64Encode(key.publicKey().raw())};
    }();
    return signedDocument;
}

void decodeAndVerifyOurs(benchmark::State& state) {
    const auto& manifest = typicalManifest();
    bench::timeEachIteration(state, [&] {
        auto decoded = autoupdatekit::ManifestCoding::makeDecoder().decodeManifest(manifest.document);
        if (!autoupdatekit::ManifestSignature::verify(decoded, manifest.publicKeyBase64)) state.SkipWithError("did not verify");
    });
}

// What any Ed25519 user pays at least: build the key, verify the bytes.
void bareVerifyPeer(benchmark::State& state) {
    const auto& manifest = typicalManifest();
    bench::timeEachIteration(state, [&] {
        EVP_PKEY* key = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, manifest.publicKey.data(), manifest.publicKey.size());
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, key);
        int valid = EVP_DigestVerify(context, manifest.signature.data(), manifest.signature.size(),
                                     reinterpret_cast<const unsigned char*>(manifest.canonical.data()), manifest.canonical.size());
        EVP_MD_CTX_free(context);
        EVP_PKEY_free(key);
        if (valid != 1) state.SkipWithError("did not verify");
    });
}

}  // namespace

BENCHMARK(decodeAndVerifyOurs)->Name("manifest decode+verify vs Ed25519/ours")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(bareVerifyPeer)->Name("manifest decode+verify vs Ed25519/peer")->UseRealTime()->Unit(benchmark::kMicrosecond);
