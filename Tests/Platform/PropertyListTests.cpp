#include "Platform/Bundle.hpp"
#include "Platform/PropertyList.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "TemporaryDirectory.hpp"

#include <gtest/gtest.h>

using namespace platform;

namespace {

std::string bigEndian(std::uint64_t value, unsigned size) {
    std::string bytes(size, '\0');
    for (unsigned index = 0; index < size; ++index) bytes[size - 1 - index] = static_cast<char>(value >> (8 * index));
    return bytes;
}

// A binary list of the given raw objects, object 0 on top, references of referenceSize
// bytes and offsets of 4.
std::string binaryList(const std::vector<std::string>& objects, unsigned referenceSize) {
    std::string bytes = "bplist00";
    std::string table;
    for (const auto& object : objects) {
        table += bigEndian(bytes.size(), 4);
        bytes += object;
    }
    std::uint64_t tableOffset = bytes.size();
    bytes += table + std::string(6, '\0') + static_cast<char>(4) + static_cast<char>(referenceSize);
    return bytes + bigEndian(objects.size(), 8) + bigEndian(0, 8) + bigEndian(tableOffset, 8);
}

// An array object holding the given references.
std::string arrayObject(const std::vector<std::uint64_t>& references, unsigned referenceSize) {
    std::string object(1, static_cast<char>(0xA0 | references.size()));
    for (auto reference : references) object += bigEndian(reference, referenceSize);
    return object;
}

// levels arrays, each holding the next; the innermost holds a string.
PropertyValue nestedArrays(int levels) {
    PropertyValue value("inner");
    for (int level = 0; level < levels; ++level) value = PropertyArray{value};
    return value;
}

std::string nestedXML(int levels) {
    std::string text = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">";
    for (int level = 0; level < levels; ++level) text += "<array>";
    text += "<string>inner</string>";
    for (int level = 0; level < levels; ++level) text += "</array>";
    return text + "</plist>\n";
}

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

// The list library recurses once per level and copies a shared value each time it is
// named; a local client's message must not be able to overflow a thread's stack or make
// the reader build more values than the message has bytes. Such lists are refused
// before the library sees them; a value at depth 256 is still read.
TEST(PropertyList, DeepOrAmplifyingListsAreRefusedBeforeTheLibraryReadsThem) {
    EXPECT_EQ(PropertyList::read(PropertyList::binary(nestedArrays(256))), nestedArrays(256));
    EXPECT_EQ(PropertyList::read(PropertyList::xml(nestedArrays(256))), nestedArrays(256));
    EXPECT_EQ(PropertyList::read(nestedXML(256)), nestedArrays(256));
    auto expectRefused = [](const std::string& bytes, const std::string& why) {
        try {
            PropertyList::read(bytes);
            ADD_FAILURE() << "read a list that " << why;
        } catch (const PropertyListError& error) {
            EXPECT_NE(std::string(error.what()).find(why), std::string::npos) << error.what();
        }
    };
    expectRefused(PropertyList::binary(nestedArrays(257)), "is nested too deeply");
    expectRefused(nestedXML(257), "is nested too deeply");

    // The input: 149,000 one-element arrays, each inside the one before.
    std::vector<std::string> deep;
    for (std::uint64_t object = 1; object < 149'000; ++object) deep.push_back(arrayObject({object}, 3));
    deep.push_back(arrayObject({}, 3));
    expectRefused(binaryList(deep, 3), "is nested too deeply");
    expectRefused(nestedXML(100'000), "is nested too deeply");

    // 40 arrays each naming the next twice would make 2^40 values; one naming itself, a
    // cycle. Both end at the value bound.
    std::vector<std::string> doubling;
    for (std::uint64_t object = 1; object <= 40; ++object) doubling.push_back(arrayObject({object, object}, 1));
    doubling.push_back("\x51x");
    expectRefused(binaryList(doubling, 1), "holds too many values");
    expectRefused(binaryList({arrayObject({0}, 1)}, 1), "holds too many values");

    // A caller's own bound.
    PropertyDictionary ten;
    for (int key = 0; key < 10; ++key) ten["k" + std::to_string(key)] = key;
    EXPECT_EQ(PropertyList::read(PropertyList::binary(ten), 21), PropertyValue(ten));
    EXPECT_THROW(PropertyList::read(PropertyList::binary(ten), 20), PropertyListError);
    EXPECT_THROW(PropertyList::read(PropertyList::xml(ten), 20), PropertyListError);
}

// The XML scan counts what the library could read as markup; where two readings could
// differ it refuses, and lists as people write them still read.
TEST(PropertyList, XmlMarkupThatCouldHideNestingIsRefused) {
    std::string written = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n<!-- the app's identity -->\n<dict>\n"
                          "  <key>CFBundleIdentifier</key>\n  <string>com.example.app &gt; 1</string>\n"
                          "  <key>list</key>\n  <array><true/><array/></array>\n</dict>\n</plist>\n";
    EXPECT_EQ(PropertyList::read(written),
              PropertyValue(PropertyDictionary{{"CFBundleIdentifier", "com.example.app > 1"}, {"list", PropertyArray{true, PropertyArray{}}}}));
    for (const char* hiding : {
             "<plist><!-- > --><array></array></plist>",                   // a comment holding ">"
             "<plist><array a=\"></array>\"></array></plist>",            // a quote holding ">"
             "<plist><array a=\"<array>\"></array></plist>",              // a tag holding "<"
             "<!DOCTYPE plist [ <!ENTITY a \"b\"> ]><plist><array/></plist>",  // an internal subset
             "<plist><array></dict></plist>",                              // a close that does not match
             "<plist><array><![CDATA[ > ]]></array></plist>",              // CDATA holding ">"
             "<plist><array>",                                             // unclosed, then "<" without ">"
             "<plist><array><",
         }) {
        EXPECT_THROW(PropertyList::read(hiding), PropertyListError) << hiding;
    }
}
