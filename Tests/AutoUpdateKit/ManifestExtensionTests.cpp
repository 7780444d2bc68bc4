#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"

#include "ManifestSamples.hpp"
#include "ReleaseSelection.hpp"

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

    // The document a publisher ships: the payload and the extension, each signed.
    std::string document(const UpdateManifestPayload& payload, ManifestExtension extension) const {
        extension.signatures = {ManifestExtensionCoding::sign(payload, extension, privateKey)};
        return ManifestExtensionCoding::manifestData({payload, ManifestSignature::sign(payload, privateKey)}, extension);
    }
};

ManifestExtension sampleExtension() {
    ManifestExtension extension;
    extension.deltas.push_back({"2.3.0", "230", "https://updates.example.com/sample/Sample-2.3.0-2.4.0.delta", 5120,
                                std::string(64, 'a'), std::string(64, 'b'), std::string(64, 'c')});
    return extension;
}

ManifestRelease release(const std::string& version, const std::optional<std::string>& minimumInstalledVersion = std::nullopt) {
    ManifestRelease listed{{}, samplePayload()};
    listed.payload.version = version;
    listed.minimumInstalledVersion = minimumInstalledVersion;
    return listed;
}

// Stable 2.0 (critical below 1.5, applied from 1.2 on, over stones 1.1 and 1.4), beta
// 2.1-beta.2 (applied from 1.5 on).
ManifestExtension releasesExtension() {
    ManifestExtension extension;
    extension.critical = CriticalUpdate{"1.5"};
    extension.minimumInstalledVersion = "1.2";
    extension.steppingStones = {release("1.1"), release("1.4", "1.1")};
    extension.channels.emplace("beta", release("2.1-beta.2", "1.5"));
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
    extension.otherMembers["expires"] = "\"2026-01-01T00:00:00Z\"";
    std::string document = publisher.document(payload, extension);
    EXPECT_TRUE(newClientAccepts(document, publisher.publicKey));
    EXPECT_FALSE(newClientAccepts(replaced(document, "2026-01-01", "2099-01-01"), publisher.publicKey));

    extension.otherMembers["mustUnderstand"] = "[\n  \"deltas\"\n]";
    EXPECT_TRUE(newClientAccepts(publisher.document(payload, extension), publisher.publicKey));
    extension.otherMembers["mustUnderstand"] = "[\n  \"expires\"\n]";
    EXPECT_THROW(ManifestExtensionCoding::decodeExtension(publisher.document(payload, extension)), DecodingError);
}

// Channels, critical marks and stepping stones come back from the signed document. A
// beta app is offered the newer of beta's and stable's release, a stable app never
// beta's, an install below a release's lowest version the newest stone it may apply,
// and only a newer release is offered: back on stable, a beta install waits for stable.
TEST(ManifestExtension, ReleasesAreOfferedByChannelLowestInstalledVersionAndCriticalBound) {
    Publisher publisher;
    auto payload = release("2.0").payload;
    std::string document = publisher.document(payload, releasesExtension());
    auto extension = ManifestExtensionCoding::decodeExtension(document);
    ASSERT_TRUE(extension);
    auto expected = releasesExtension();
    expected.signatures = extension->signatures;
    EXPECT_EQ(*extension, expected);

    // The release offered as newer than the installed one (empty: none) and whether critical.
    struct Case {
        std::string channel, installed, offered;
        bool critical;
    };
    const Case cases[] = {
        {"stable", "1.0", "1.1", false},  {"stable", "1.1", "1.4", false},      {"stable", "1.3", "2.0", true},
        {"stable", "1.6", "2.0", false},  {"stable", "2.0-rc.1", "2.0", false}, {"beta", "1.3", "2.0", true},
        {"beta", "1.6", "2.1-beta.2", false}, {"nightly", "1.6", "2.0", false}, {"stable", "2.1-beta.2", "", false},
        {"beta", "2.1-beta.2", "", false},
    };
    SignedUpdateManifest manifest{payload, "legacy"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channel + " " + c.installed);
        AppVersion installed{c.installed, payload.build};
        auto offered = offeredRelease(manifest, extension, c.channel, installed);
        ASSERT_TRUE(offered);
        const auto& chosen = offered->manifest.payload;
        EXPECT_EQ(AppVersion::compare({chosen.version, chosen.build}, installed) > 0 ? chosen.version : "", c.offered);
        EXPECT_EQ(offered->critical, c.critical);
        EXPECT_EQ(offered->manifest.signature, chosen == payload ? "legacy" : "");
    }
    extension->steppingStones.clear();
    EXPECT_FALSE(offeredRelease(manifest, extension, "stable", {"1.0", "1"}));
    EXPECT_EQ(offeredRelease(manifest, std::nullopt, "beta", {"1.0", "1"})->manifest, manifest);
}

TEST(ManifestExtension, DecodingRefusesExtensionsOutsideTheRules) {
    std::string delta = R"({"fromVersion":"1","fromBuild":"1","url":"https://x.example/d","size":1,"sha256":")" +
                        std::string(64, 'a') + R"(","fromTreeSHA256":")" + std::string(64, 'b') +
                        R"(","toTreeSHA256":")" + std::string(64, 'c') + R"("})";
    auto document = [](const std::string& extension) { return R"({"payload":{},"signature":"","extension":)" + extension + "}"; };
    std::string valid = R"({"signed":{"deltas":[)" + delta + R"(]},"signatures":[]})";
    ASSERT_EQ(ManifestExtensionCoding::decodeExtension(document(valid))->deltas.size(), 1u);
    std::string payloadText = ManifestCoding::canonicalPayloadData(samplePayload());
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
        R"({"signed":{"critical":false},"signatures":[]})",
        R"({"signed":{"channel":"Beta"},"signatures":[]})",
        R"({"signed":{"channels":{"stable":)" + payloadText + R"(}},"signatures":[]})",
        R"({"signed":{"channels":{"beta":)" + replaced(payloadText, "{", R"({"extra":1,)") + R"(}},"signatures":[]})",
        R"({"signed":{"steppingStones":[)" + replaced(payloadText, "{", R"({"steppingStones":[)" + payloadText + "],") + R"(]},"signatures":[]})",
    };
    for (const auto& extension : refused) {
        EXPECT_THROW(ManifestExtensionCoding::decodeExtension(document(extension)), DecodingError) << extension;
    }
}
