#include "Platform/Bundle.hpp"
#include "Platform/PropertyList.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "TemporaryDirectory.hpp"

#include <gtest/gtest.h>

using namespace platform;

namespace {

PropertyValue sampleValue() {
    PropertyDictionary nested{{"flag", true}, {"list", PropertyArray{"a", std::int64_t{-1}, 2.5}}};
    return PropertyDictionary{
        {"CFBundleIdentifier", "com.example.app"},
        {"pid", std::int64_t{-42}},
        {"large", std::int64_t{9007199254740993}},
        {"real", 0.125},
        {"no", false},
        {"date", PropertyDate{1765000000}},
        {"data", PropertyData{0, 1, 2, 255}},
        {"unicode", "caf\xC3\xA9 <&> \xF0\x9F\x9A\x80"},
        {"nested", nested},
        {"empty", PropertyDictionary{}},
    };
}

}  // namespace

TEST(PropertyList, XmlAndBinaryRoundTripEveryValueType) {
    PropertyValue value = sampleValue();
    EXPECT_EQ(PropertyList::read(PropertyList::xml(value)), value);
    EXPECT_EQ(PropertyList::read(PropertyList::binary(value)), value);
    EXPECT_EQ(PropertyList::binary(value).substr(0, 8), "bplist00");
    EXPECT_NE(PropertyList::xml(value).find("<string>com.example.app</string>"), std::string::npos);
}

// Text the list library would abort on, or write back differently, is refused on
// reading; this reaches the helper through every message a local client sends.
TEST(PropertyList, TextWithNulOrNotUTF8IsRefusedAndDatesKeepWholeSeconds) {
    auto withByte = [](std::string list, const std::string& marker, char byte) {
        list[list.find(marker) + 1] = byte;
        return list;
    };
    std::string binary = PropertyList::binary(PropertyDictionary{{"kQy", "vQw"}});
    for (const auto& input : {withByte(binary, "kQy", '\0'), withByte(binary, "vQw", '\0'), withByte(binary, "vQw", '\xff'),
                              std::string("<plist version=\"1.0\"><string>a\0b</string></plist>", 44)}) {
        EXPECT_THROW(PropertyList::read(input), PropertyListError);
    }
    std::string utf16 = PropertyList::binary(PropertyDictionary{{"k", "caf\xC3\xA9"}});
    EXPECT_THROW(PropertyList::read(withByte(utf16, std::string("\0f", 2), '\0')), PropertyListError);

    PropertyValue beforeReference = PropertyDate{978307200.0 - 12.7};  // 2000-12-31T23:59:47.3Z
    EXPECT_EQ(PropertyList::read(PropertyList::binary(beforeReference)), PropertyValue(PropertyDate{978307187}));
    EXPECT_EQ(PropertyList::read(PropertyList::xml(beforeReference)), PropertyValue(PropertyDate{978307187}));
}

TEST(Bundle, OpensXmlAndBinaryInfoAndReportsBrokenOnes) {
    testsupport::TemporaryDirectory folder;
    std::string app = testsupport::buildBundle(folder.path(), "Sample");
    auto bundle = Bundle::open(FileURL(app));
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->bundleIdentifier(), "com.example.sample");
    EXPECT_EQ(bundle->bundleURL().path(), app);

    std::string info = app + "/Contents/Info.plist";
    testsupport::writeFile(info, PropertyList::binary(PropertyDictionary{{"CFBundleIdentifier", "com.example.binary"}}));
    EXPECT_EQ(Bundle::open(FileURL(app))->bundleIdentifier(), "com.example.binary");

    testsupport::writeFile(info, PropertyList::binary(PropertyDictionary{{"CFBundleIdentifier", std::int64_t{7}}}));
    EXPECT_EQ(Bundle::open(FileURL(app))->bundleIdentifier(), std::nullopt);

    testsupport::writeFile(info, "<plist><dict>broken");
    EXPECT_THROW(Bundle::open(FileURL(app)), PropertyListError);

    ::unlink(info.c_str());
    EXPECT_TRUE(Bundle::open(FileURL(app))->infoDictionary().empty());
    EXPECT_FALSE(Bundle::open(FileURL(folder / "missing.app")));
}
