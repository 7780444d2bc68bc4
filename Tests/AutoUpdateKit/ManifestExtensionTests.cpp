#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"
#include "AutoUpdateKit/ManifestSignature.hpp"
#include "ManifestTrust.hpp"

#include "ReleaseBuilder.hpp"
#include "ReleaseSelection.hpp"

#include "Platform/Crypto.hpp"

#include <functional>
#include <gtest/gtest.h>

using namespace autoupdatekit;
using testsupport::samplePayload;

namespace {

// The document publishers ship: the payload signed by the first key, the extension by each.
std::string signedBy(const std::vector<std::string>& privateKeys, const UpdateManifestPayload& payload, ManifestExtension extension) {
    for (const auto& key : privateKeys) extension.signatures.push_back(ManifestExtensionCoding::sign(payload, extension, key));
    return ManifestExtensionCoding::manifestData({payload, ManifestSignature::sign(payload, privateKeys.front())}, extension);
}

struct Publisher {
    platform::Ed25519PrivateKey key = platform::Ed25519PrivateKey::generate();
    std::string privateKey = platform::base64Encode(key.seed());
    std::string publicKey = platform::base64Encode(key.publicKey().raw());
};

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

// The extension round-trips, and a client that knows only the payload decodes the same
// manifest and verifies it: the payload's signature covers the same bytes as without
// the extension. Any change to the signed extension, or moving it to another release,
// fails its signature; a second signature by another key (a key being rotated in) and
// unknown signed members do not, unless they must be understood.
TEST(ManifestExtension, TheSignedExtensionRoundTripsAndAnyChangeFailsItsSignature) {
    Publisher publisher;
    auto payload = samplePayload();
    ManifestExtension extension;
    extension.deltas.push_back({"2.3.0", "230", "https://updates.example.com/sample/Sample-2.3.0-2.4.0.delta", 5120,
                                std::string(64, 'a'), std::string(64, 'b'), std::string(64, 'c')});
    extension.otherMembers["note"] = "\"2026-01-01T00:00:00Z\"";
    std::string document = signedBy({publisher.privateKey}, payload, extension);
    EXPECT_NE(document.find("\n  \"extension\" : {\n    \"signatures\" : [\n      \""), std::string::npos) << document;
    auto decoded = ManifestExtensionCoding::decodeExtension(document);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->deltas, extension.deltas);
    EXPECT_TRUE(newClientAccepts(document, publisher.publicKey));
    EXPECT_FALSE(newClientAccepts(document, Publisher().publicKey));
    auto manifest = ManifestCoding::makeDecoder().decodeManifest(document);
    EXPECT_EQ(manifest.payload, payload);
    EXPECT_TRUE(ManifestSignature::verify(manifest, publisher.publicKey));
    EXPECT_FALSE(ManifestExtensionCoding::decodeExtension(ManifestCoding::manifestData(manifest)));

    auto other = payload;
    other.version = "2.4.1";
    std::string otherDocument = signedBy({publisher.privateKey}, other, {});
    auto extensionOf = [](const std::string& text) {
        return text.substr(text.find("\"extension\""), text.find("\"payload\"") - text.find("\"extension\""));
    };
    auto changes = std::vector<std::pair<std::string, std::string>>{
        {"2.3.0", "2.2.0"},
        {"5120", "5121"},
        {"Sample-2.3.0-2.4.0.delta", "Evil.delta"},
        {std::string(64, 'c'), std::string(64, 'd')},
        {"2026-01-01", "2099-01-01"},
        {"\"signed\" : {", "\"signed\" : {\"extra\" : \"unsigned\", "},
    };
    for (const auto& [from, to] : changes) EXPECT_FALSE(newClientAccepts(replaced(document, from, to), publisher.publicKey)) << to;
    std::string moved = replaced(otherDocument, extensionOf(otherDocument), extensionOf(document));
    EXPECT_FALSE(newClientAccepts(moved, publisher.publicKey));
    std::string rotated = replaced(document, "\"signatures\" : [", "\"signatures\" : [\"" + std::string(86, 'A') + "==\", ");
    EXPECT_TRUE(newClientAccepts(rotated, publisher.publicKey));
    decoded->signatures.clear();
    EXPECT_FALSE(ManifestExtensionCoding::verify(payload, *decoded, publisher.publicKey));

    extension.otherMembers["mustUnderstand"] = "[\n  \"deltas\"\n]";
    EXPECT_TRUE(newClientAccepts(signedBy({publisher.privateKey}, payload, extension), publisher.publicKey));
    extension.otherMembers["mustUnderstand"] = "[\n  \"note\"\n]";
    EXPECT_THROW(ManifestExtensionCoding::decodeExtension(signedBy({publisher.privateKey}, payload, extension)), DecodingError);
}

// Channels, critical marks and stepping stones come back from the signed document. A
// beta app is offered the newer of beta's and stable's release, a stable app never
// beta's, an install below a release's lowest version the newest stone it may apply,
// and only a newer release is offered: back on stable, a beta install waits for stable.
TEST(ManifestExtension, ReleasesAreOfferedByChannelLowestInstalledVersionAndCriticalBound) {
    Publisher publisher;
    auto payload = release("2.0").payload;
    std::string document = signedBy({publisher.privateKey}, payload, releasesExtension());
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
        R"({"signed":{"expires":"2027-01-07T12:00:00+00:00"},"signatures":[]})",
        R"({"signed":{"sequence":0},"signatures":[]})",
        R"({"signed":{"sequence":-3},"signatures":[]})",
        R"({"signed":{"channel":""},"signatures":[]})",
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

// Freshness, binding and rotation: an expiry passed by more than the hour of clock skew,
// a sequence below the one accepted (the same manifest fetched twice is fine), freshness
// missing where it is required, another app or channel, and fewer distinct listed keys
// than the threshold (a key's signature repeated counts once) are refused.
TEST(ManifestTrust, RefusesStaleReplayedMisboundAndUndersignedManifests) {
    using namespace std::chrono_literals;
    Publisher oldKey, newKey, stranger;
    const std::chrono::sys_seconds expires = std::chrono::sys_days(std::chrono::year(2027) / 1 / 7) + 12h;
    const std::string invalid = "The update manifest signature is not valid.";
    const std::string oneOfTwo = "The update manifest is signed by 1 of the 2 manifest keys this app requires.";
    struct Row {
        std::vector<std::string> signers = {};  // none: the old key
        std::vector<std::string> listed = {};   // none: the old and the new key
        std::size_t threshold = 1;
        bool fresh = true, required = false;
        std::chrono::seconds sinceExpiry = -24h;
        std::optional<std::int64_t> highestAccepted = std::nullopt;
        std::optional<std::string> bundleIdentifier = "com.example.sample", channel = std::nullopt;
        std::string appChannel = "stable", expected = "trusted";
    };
    const Row rows[] = {
        {.required = true, .highestAccepted = 6},
        {.sinceExpiry = 1h},
        {.sinceExpiry = 1h + 1s, .expected = "The update manifest expired on 2027-01-07T12:00:00Z."},
        {.fresh = false, .sinceExpiry = 1000h, .highestAccepted = 8},
        {.fresh = false, .required = true, .expected = "The update manifest has no signed expiry and sequence number, which this app requires."},
        {.bundleIdentifier = "com.example.other",
         .expected = "The update manifest is for another app. Expected com.example.sample, got com.example.other."},
        {.channel = "beta", .expected = "The update manifest is for the channel \"beta\", not this app's channel \"stable\"."},
        {.appChannel = "beta", .expected = "The update manifest is for the channel \"stable\", not this app's channel \"beta\"."},
        {.channel = "beta", .appChannel = "beta"},
        {.signers = {newKey.privateKey}},
        {.signers = {oldKey.privateKey, newKey.privateKey}},
        {.signers = {newKey.privateKey, oldKey.privateKey}, .threshold = 2},
        {.signers = {oldKey.privateKey, stranger.privateKey}, .threshold = 2, .expected = oneOfTwo},
        {.signers = {oldKey.privateKey, oldKey.privateKey}, .threshold = 2, .expected = oneOfTwo},
        {.listed = {oldKey.publicKey, oldKey.publicKey + "\n"}, .threshold = 2, .expected = oneOfTwo},
        {.listed = {newKey.publicKey}, .expected = invalid},
        {.signers = {stranger.privateKey}, .expected = invalid},
    };
    for (const auto& row : rows) {
        ManifestExtension extension;
        extension.expires = row.fresh ? std::optional(expires) : std::nullopt;
        extension.sequence = row.fresh ? std::optional<std::int64_t>(7) : std::nullopt;
        extension.bundleIdentifier = row.bundleIdentifier;
        extension.channel = row.channel;
        auto listed = row.listed.empty() ? std::vector<std::string>{oldKey.publicKey, newKey.publicKey} : row.listed;
        ManifestTrust trust{listed, row.threshold, row.required, "com.example.sample", row.appChannel};
        auto signers = row.signers.empty() ? std::vector<std::string>{oldKey.privateKey} : row.signers;
        std::string document = signedBy(signers, samplePayload(), extension);
        std::string verdict = "trusted";
        try {
            trust.check(ManifestCoding::makeDecoder().decodeManifest(document), ManifestExtensionCoding::decodeExtension(document),
                        row.highestAccepted, expires + row.sinceExpiry);
        } catch (const AutoUpdateError& error) {
            verdict = error.description();
        }
        EXPECT_EQ(verdict, row.expected) << &row - rows;
    }
}
