#include "AutoUpdateKit/ManifestCoding.hpp"

#include "ReleaseBuilder.hpp"

#include "Platform/Identifiers.hpp"

#include <gtest/gtest.h>

using namespace autoupdatekit;
using testsupport::samplePayload;

namespace {

const std::string workedExample =
    "{\n"
    "  \"appName\" : \"Sample\",\n"
    "  \"archiveFileName\" : \"Sample-2.4.0.zip\",\n"
    "  \"archiveSHA256\" : \"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08\",\n"
    "  \"archiveSize\" : 18432512,\n"
    "  \"archiveURL\" : \"https://updates.example.com/sample/Sample-2.4.0.zip\",\n"
    "  \"build\" : \"241\",\n"
    "  \"bundleIdentifier\" : \"com.example.sample\",\n"
    "  \"minimumSystemVersion\" : \"12.0\",\n"
    "  \"releaseDate\" : \"2025-03-14T09:30:00Z\",\n"
    "  \"schemaVersion\" : 1,\n"
    "  \"version\" : \"2.4.0\"\n"
    "}";

SignedUpdateManifest decode(const std::string& json) { return ManifestCoding::makeDecoder().decodeManifest(json); }

}  // namespace

// The canonical bytes are the worked example's to the byte, whatever the layout, order,
// escaping, offsets, unknown keys or null optionals of the document they come from; an
// absent optional is never written.
TEST(ManifestCoding, LayoutEscapingOffsetsUnknownKeysAndNullsDoNotChangeTheCanonicalBytes) {
    std::string reordered = "{ \"extra\" : [1, 2, {\"deep\": true}], \"signature\" : \"c2ln\",\n\t\"payload\" : {"
                            "\"version\":\"2.4.0\",\"schemaVersion\":1,\"unknown\":\"ignored\",\"releaseNotes\":null,"
                            "\"releaseDate\":\"2025-03-14T10:30:00+01:00\",\"minimumSystemVersion\":\"12.0\","
                            "\"bundleIdentifier\":\"com.example.sample\",\"build\":\"2\\u00341\","
                            "\"archiveURL\":\"https:\\/\\/updates.example.com\\/sample\\/Sample-2.4.0.zip\","
                            "\"archiveSize\":18432512,"
                            "\"archiveSHA256\":\"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08\","
                            "\"archiveFileName\":\"Sample-2.4.0.zip\",\"appName\":\"Sample\"}}";
    auto decoded = decode(reordered);
    EXPECT_EQ(decoded.payload, samplePayload());
    EXPECT_EQ(decoded.signature, "c2ln");
    EXPECT_EQ(ManifestCoding::canonicalPayloadData(decoded.payload), workedExample);
    EXPECT_EQ(platform::iso8601UTC(*platform::parseISO8601("2025-03-14T04:00:00-0530")), "2025-03-14T09:30:00Z");
}

TEST(ManifestCoding, StringsAreWrittenRawExceptForTheEscapesAndAbsentOptionalsNotAtAll) {
    auto payload = samplePayload();
    payload.releaseNotes = "Fixes:\n\t\"quotes\" \\ back/slash\r\x01 caf\xC3\xA9 \xF0\x9F\x9A\x80";
    payload.minimumSystemVersion.reset();
    std::string canonical = ManifestCoding::canonicalPayloadData(payload);
    EXPECT_EQ(canonical.find("minimumSystemVersion"), std::string::npos);
    EXPECT_NE(canonical.find("\"releaseNotes\" : \"Fixes:\\n\\t\\\"quotes\\\" \\\\ back/slash\\r\\u0001 caf\xC3\xA9 \xF0\x9F\x9A\x80\",\n"),
              std::string::npos)
        << canonical;
    EXPECT_EQ(ManifestCoding::makeDecoder().decodePayload(canonical), payload);
}

TEST(ManifestCoding, BadDocumentsFailWithTheDecodersOwnError) {
    auto replaced = [](const std::string& from, const std::string& to) {
        std::string document = ManifestCoding::manifestData({samplePayload(), "c2ln"});
        std::size_t at = document.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return document.replace(at, from.size(), to);
    };
    struct Case {
        std::string document;
        std::string message;
    };
    const Case cases[] = {
        {"", "not valid JSON"},
        {"{\"signature\": \"x\"}", "No value associated with key \"payload\""},
        {replaced("\"appName\" : \"Sample\",", ""), "No value associated with key \"appName\""},
        {replaced("18432512", "9223372036854775808"), "does not fit in a 64-bit integer"},
        {replaced("2025-03-14T09:30:00Z", "2025-02-30T09:30:00Z"), "releaseDate"},
        // Offsets that carry the instant out of the four-digit years the writer can give back.
        {replaced("2025-03-14T09:30:00Z", "9999-12-31T23:59:59-00:01"), "outside the years 0000 to 9999"},
        {replaced("2025-03-14T09:30:00Z", "0000-01-01T00:00:00+00:01"), "outside the years 0000 to 9999"},
        {"{\"payload\": " + std::string(5000, '[') + std::string(5000, ']') + "}", "nested too deeply"},
    };
    for (const auto& c : cases) {
        try {
            decode(c.document);
            ADD_FAILURE() << "decoded: " << c.document.substr(0, 200);
        } catch (const DecodingError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
    // The first and last seconds of the range still decode and give back the same instant.
    for (const auto& [written, utc] : {std::pair{"0000-01-01T00:01:00+00:01", "0000-01-01T00:00:00Z"},
                                       std::pair{"9999-12-31T23:58:59-00:01", "9999-12-31T23:59:59Z"}}) {
        std::string document = replaced("2025-03-14T09:30:00Z", written);
        std::string again = ManifestCoding::manifestData(decode(document));
        EXPECT_NE(again.find(std::string("\"releaseDate\" : \"") + utc + "\""), std::string::npos) << again;
        EXPECT_EQ(decode(again), decode(document));
    }
}
