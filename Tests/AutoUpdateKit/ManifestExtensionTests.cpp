#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "ManifestTrust.hpp"

#include "ManifestSamples.hpp"

#include "Platform/Crypto.hpp"

#include <functional>
#include <gtest/gtest.h>

using namespace autoupdatekit;
using testsupport::samplePayload;

namespace {

struct Publisher {
    platform::Ed25519PrivateKey key = platform::Ed25519PrivateKey::generate();
    std::string privateKey = platform::base64Encode(key.seed());
    std::string publicKey = platform::base64Encode(key.publicKey().raw());

    std::string document(const UpdateManifestPayload& payload, ManifestExtension extension) const;
};

// The document publishers ship: the payload signed by the first, the extension by each.
std::string signedBy(const std::vector<const Publisher*>& signers, const UpdateManifestPayload& payload, ManifestExtension extension) {
    for (const auto* signer : signers) extension.signatures.push_back(ManifestExtensionCoding::sign(payload, extension, signer->privateKey));
    return ManifestExtensionCoding::manifestData({payload, ManifestSignature::sign(payload, signers.front()->privateKey)}, extension);
}

std::string Publisher::document(const UpdateManifestPayload& payload, ManifestExtension extension) const {
    return signedBy({this}, payload, std::move(extension));
}

// The description of the error that refuses the document, or "trusted".
std::string verdict(const ManifestTrust& trust, const std::string& document, std::optional<std::int64_t> highestAccepted,
                    std::chrono::system_clock::time_point now) {
    try {
        trust.check(ManifestCoding::makeDecoder().decodeManifest(document), ManifestExtensionCoding::decodeExtension(document),
                    highestAccepted, now);
        return "trusted";
    } catch (const AutoUpdateError& error) {
        return error.description();
    }
}

ManifestExtension sampleExtension() {
    ManifestExtension extension;
    extension.deltas.push_back({"2.3.0", "230", "https://updates.example.com/sample/Sample-2.3.0-2.4.0.delta", 5120,
                                std::string(64, 'a'), std::string(64, 'b'), std::string(64, 'c')});
    return extension;
}

// What a client that knows the extension concludes from a document.
bool newClientAccepts(const std::string& document, const std::string& publicKey) {
    auto manifest = ManifestCoding::makeDecoder().decodeManifest(document);
    auto extension = ManifestExtensionCoding::decodeExtension(document);
    return ManifestSignature::verify(manifest, publicKey) &&
           (!extension || ManifestExtensionCoding::verify(manifest.payload, *extension, publicKey));
}

// Replaces the first occurrence of from, which the test expects to be there.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    auto position = text.find(from);
    EXPECT_NE(position, std::string::npos) << from;
    return position == std::string::npos ? text : text.replace(position, from.size(), to);
}

}  // namespace

TEST(ManifestExtension, SignedExtensionRoundTripsAndClientsWithoutItStillVerifyThePayload) {
    Publisher publisher;
    auto payload = samplePayload();
    std::string document = publisher.document(payload, sampleExtension());
    EXPECT_NE(document.find("\n  \"extension\" : {\n    \"signatures\" : [\n      \""), std::string::npos) << document;

    auto extension = ManifestExtensionCoding::decodeExtension(document);
    ASSERT_TRUE(extension);
    EXPECT_EQ(extension->deltas, sampleExtension().deltas);
    EXPECT_TRUE(newClientAccepts(document, publisher.publicKey));
    EXPECT_FALSE(newClientAccepts(document, Publisher().publicKey));
    // A client that knows only the payload decodes the same manifest and verifies it: the
    // payload's signature covers the same bytes as without the extension.
    auto manifest = ManifestCoding::makeDecoder().decodeManifest(document);
    EXPECT_EQ(manifest.payload, payload);
    EXPECT_TRUE(ManifestSignature::verify(manifest, publisher.publicKey));
    // A document without an extension has none.
    EXPECT_FALSE(ManifestExtensionCoding::decodeExtension(ManifestCoding::manifestData(manifest)));
}

TEST(ManifestExtension, TamperingOrMovingTheExtensionToAnotherPayloadFailsItsSignature) {
    Publisher publisher;
    auto payload = samplePayload();
    std::string document = publisher.document(payload, sampleExtension());
    auto other = payload;
    other.version = "2.4.1";
    std::string otherDocument = publisher.document(other, {});
    auto extensionOf = [](const std::string& text) {
        return text.substr(text.find("\"extension\""), text.find("\"payload\"") - text.find("\"extension\""));
    };
    auto changes = std::vector<std::pair<std::string, std::string>>{
        {"2.3.0", "2.2.0"},
        {"5120", "5121"},
        {"Sample-2.3.0-2.4.0.delta", "Evil.delta"},
        {std::string(64, 'c'), std::string(64, 'd')},
        {"\"signed\" : {", "\"signed\" : {\"note\" : \"unsigned\", "},
    };
    for (const auto& [from, to] : changes) EXPECT_FALSE(newClientAccepts(replaced(document, from, to), publisher.publicKey)) << to;
    // The same signed extension carried by another release of the same publisher.
    std::string moved = replaced(otherDocument, extensionOf(otherDocument), extensionOf(document));
    EXPECT_FALSE(newClientAccepts(moved, publisher.publicKey));
    // A second signature by another key (a key being rotated in) leaves it valid.
    std::string rotated = replaced(document, "\"signatures\" : [", "\"signatures\" : [\"" + std::string(86, 'A') + "==\", ");
    EXPECT_TRUE(newClientAccepts(rotated, publisher.publicKey));
    auto unsigned_ = *ManifestExtensionCoding::decodeExtension(document);
    unsigned_.signatures.clear();
    EXPECT_FALSE(ManifestExtensionCoding::verify(payload, unsigned_, publisher.publicKey));
}

TEST(ManifestExtension, UnknownSignedMembersAreSignedAndIgnoredUnlessTheyMustBeUnderstood) {
    Publisher publisher;
    auto payload = samplePayload();
    auto extension = sampleExtension();
    extension.otherMembers["note"] = "\"2026-01-01T00:00:00Z\"";
    std::string document = publisher.document(payload, extension);
    EXPECT_TRUE(newClientAccepts(document, publisher.publicKey));
    EXPECT_FALSE(newClientAccepts(replaced(document, "2026-01-01", "2099-01-01"), publisher.publicKey));

    extension.otherMembers["mustUnderstand"] = "[\n  \"deltas\"\n]";
    EXPECT_TRUE(newClientAccepts(publisher.document(payload, extension), publisher.publicKey));
    extension.otherMembers["mustUnderstand"] = "[\n  \"note\"\n]";
    EXPECT_THROW(ManifestExtensionCoding::decodeExtension(publisher.document(payload, extension)), DecodingError);
}

TEST(ManifestExtension, DecodingRefusesExtensionsOutsideTheRules) {
    std::string delta = R"({"fromVersion":"1","fromBuild":"1","url":"https://x.example/d","size":1,"sha256":")" +
                        std::string(64, 'a') + R"(","fromTreeSHA256":")" + std::string(64, 'b') +
                        R"(","toTreeSHA256":")" + std::string(64, 'c') + R"("})";
    auto document = [](const std::string& extension) { return R"({"payload":{},"signature":"","extension":)" + extension + "}"; };
    std::string valid = R"({"signed":{"deltas":[)" + delta + R"(]},"signatures":[]})";
    ASSERT_EQ(ManifestExtensionCoding::decodeExtension(document(valid))->deltas.size(), 1u);
    std::string manyValues = "[1";
    for (int index = 0; index < 5000; ++index) manyValues += ",1";
    const std::vector<std::string> refused = {
        "[]",
        R"({"signed":{}})",
        R"({"signed":{},"signatures":[],"extra":1})",
        R"({"signed":{"deltas":[]},"signatures":[]})",
        R"({"signed":{"ratio":0.5},"signatures":[]})",
        R"({"signed":{"note":null},"signatures":[]})",
        R"({"signed":{"many":)" + manyValues + R"(]},"signatures":[]})",
        R"({"signed":{},"signatures":[1]})",
        R"({"signed":{},"signatures":["","","","","","","","",""]})",
        replaced(valid, R"("size":1)", R"("size":0)"),
        replaced(valid, R"("size":1)", R"("size":1,"extra":1)"),
        replaced(valid, "https://x.example/d", "file:///d"),
        replaced(valid, std::string(64, 'a'), std::string(64, 'A')),
        replaced(valid, std::string(64, 'b'), std::string(63, 'b')),
        replaced(valid, R"("fromVersion":"1")", R"("fromVersion":"")"),
    };
    for (const auto& extension : refused) {
        EXPECT_THROW(ManifestExtensionCoding::decodeExtension(document(extension)), DecodingError) << extension;
    }
}

// Freshness and binding: an expiry passed by more than the hour of clock skew, a
// sequence below the one accepted, freshness missing where it is required, and a
// manifest of another app or channel are refused; the same manifest fetched twice is not.
TEST(ManifestTrust, RefusesStaleReplayedAndMisboundManifests) {
    using namespace std::chrono_literals;
    Publisher publisher;
    const std::chrono::sys_seconds expires = std::chrono::sys_days(std::chrono::year(2027) / 1 / 7) + 12h;
    const std::string expired = "The update manifest expired on 2027-01-07T12:00:00Z.";
    const std::string older = "The update manifest is older than one already accepted.";
    struct Row {
        std::string name;
        std::function<void(ManifestExtension&, ManifestTrust&)> edit;
        std::chrono::seconds sinceExpiry;
        std::optional<std::int64_t> highestAccepted;
        std::string expected;
    };
    auto unfresh = [](ManifestExtension& extension, ManifestTrust&) {
        extension.expires.reset();
        extension.sequence.reset();
    };
    auto requireFresh = [](ManifestExtension&, ManifestTrust& trust) { trust.requireFresh = true; };
    const Row rows[] = {
        {"before expiry, higher sequence", {}, -24h, 6, "trusted"},
        {"skew just inside", {}, 1h - 1s, std::nullopt, "trusted"},
        {"skew at the edge", {}, 1h, std::nullopt, "trusted"},
        {"skew just outside", {}, 1h + 1s, std::nullopt, expired},
        {"replayed lower sequence", {}, -24h, 8, older},
        {"same manifest again", {}, -24h, 7, "trusted"},
        {"fresh where required", requireFresh, -24h, 7, "trusted"},
        {"no freshness, not required", unfresh, 1000h, 8, "trusted"},
        {"no freshness, required",
         [&](ManifestExtension& extension, ManifestTrust& trust) {
             unfresh(extension, trust);
             trust.requireFresh = true;
         },
         -24h,
         std::nullopt, "The update manifest has no signed expiry and sequence number, which this app requires."},
        {"another app", [](ManifestExtension& extension, ManifestTrust&) { extension.bundleIdentifier = "com.example.other"; }, -24h,
         std::nullopt, "The update manifest is for another app. Expected com.example.sample, got com.example.other."},
        {"beta manifest, stable app", [](ManifestExtension& extension, ManifestTrust&) { extension.channel = "beta"; }, -24h,
         std::nullopt, "The update manifest is for the channel \"beta\", not this app's channel \"stable\"."},
        {"stable manifest, beta app", [](ManifestExtension&, ManifestTrust& trust) { trust.channel = "beta"; }, -24h, std::nullopt,
         "The update manifest is for the channel \"stable\", not this app's channel \"beta\"."},
        {"beta manifest, beta app",
         [](ManifestExtension& extension, ManifestTrust& trust) { extension.channel = trust.channel = "beta"; }, -24h, std::nullopt,
         "trusted"},
    };
    for (const auto& row : rows) {
        ManifestExtension extension;
        extension.expires = expires;
        extension.sequence = 7;
        extension.bundleIdentifier = "com.example.sample";
        ManifestTrust trust{{publisher.publicKey}, 1, false, "com.example.sample", "stable"};
        if (row.edit) row.edit(extension, trust);
        std::string document = publisher.document(samplePayload(), extension);
        EXPECT_EQ(verdict(trust, document, row.highestAccepted, expires + row.sinceExpiry), row.expected) << row.name;
    }
}

// A rotation: the app lists the old and the new key, and a manifest is good when one of
// them signed it, or as many distinct ones as the threshold asks; one key's signature
// repeated counts once.
TEST(ManifestTrust, CountsDistinctListedKeysThatSignedAgainstTheThreshold) {
    Publisher oldKey, newKey, stranger;
    const std::string invalid = "The update manifest signature is not valid.";
    const std::string oneOfTwo = "The update manifest is signed by 1 of the 2 manifest keys this app requires.";
    struct Row {
        std::string name;
        std::vector<const Publisher*> signers;
        std::vector<const Publisher*> listed;
        std::size_t threshold;
        std::string expected;
    };
    const Row rows[] = {
        {"old key only", {&oldKey}, {&oldKey, &newKey}, 1, "trusted"},
        {"new key only", {&newKey}, {&oldKey, &newKey}, 1, "trusted"},
        {"both", {&oldKey, &newKey}, {&oldKey, &newKey}, 1, "trusted"},
        {"both, threshold 2", {&newKey, &oldKey}, {&oldKey, &newKey}, 2, "trusted"},
        {"one valid, threshold 2", {&oldKey, &stranger}, {&oldKey, &newKey}, 2, oneOfTwo},
        {"one key twice, threshold 2", {&oldKey, &oldKey}, {&oldKey, &newKey}, 2, oneOfTwo},
        {"dropped key only", {&oldKey}, {&newKey}, 1, invalid},
        {"unlisted key", {&stranger}, {&oldKey, &newKey}, 1, invalid},
    };
    for (const auto& row : rows) {
        ManifestTrust trust;
        for (const auto* key : row.listed) trust.publicKeys.push_back(key->publicKey);
        trust.threshold = row.threshold;
        std::string document = signedBy(row.signers, samplePayload(), {});
        EXPECT_EQ(verdict(trust, document, std::nullopt, std::chrono::system_clock::now()), row.expected) << row.name;
    }
}
