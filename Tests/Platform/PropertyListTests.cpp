#include "Platform/Bundle.hpp"
#include "Platform/PropertyList.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"

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

// Every value type reads back as written, in XML and binary; so do lists 256 deep, the
// deepest allowed, and an XML list as people write it. A date keeps whole seconds,
// rounded down also before the reference date.
TEST(PropertyList, XmlAndBinaryRoundTripEveryValueTypeAndDepth) {
    for (const PropertyValue& value : {sampleValue(), nestedArrays(256)}) {
        EXPECT_EQ(PropertyList::read(PropertyList::xml(value)), value);
        EXPECT_EQ(PropertyList::read(PropertyList::binary(value)), value);
    }
    EXPECT_EQ(PropertyList::binary(sampleValue()).substr(0, 8), "bplist00");
    EXPECT_NE(PropertyList::xml(sampleValue()).find("<string>com.example.app</string>"), std::string::npos);
    EXPECT_EQ(PropertyList::read(nestedXML(256)), nestedArrays(256));
    std::string written = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n<!-- the app's identity -->\n<dict>\n"
                          "  <key>CFBundleIdentifier</key>\n  <string>com.example.app &gt; 1</string>\n"
                          "  <key>list</key>\n  <array><true/><array/></array>\n</dict>\n</plist>\n";
    EXPECT_EQ(PropertyList::read(written),
              PropertyValue(PropertyDictionary{{"CFBundleIdentifier", "com.example.app > 1"}, {"list", PropertyArray{true, PropertyArray{}}}}));

    PropertyValue beforeReference = PropertyDate{978307200.0 - 12.7};  // 2000-12-31T23:59:47.3Z
    EXPECT_EQ(PropertyList::read(PropertyList::binary(beforeReference)), PropertyValue(PropertyDate{978307187}));
    EXPECT_EQ(PropertyList::read(PropertyList::xml(beforeReference)), PropertyValue(PropertyDate{978307187}));

    // A caller's own bound on the number of values.
    PropertyDictionary ten;
    for (int key = 0; key < 10; ++key) ten["k" + std::to_string(key)] = key;
    EXPECT_EQ(PropertyList::read(PropertyList::binary(ten), 21), PropertyValue(ten));
    EXPECT_THROW(PropertyList::read(PropertyList::binary(ten), 20), PropertyListError);
    EXPECT_THROW(PropertyList::read(PropertyList::xml(ten), 20), PropertyListError);
}

// Every list a local client could send the helper that the list library would abort on,
// read differently from the scan, or recurse or copy values on without bound is refused
// before the library reads it, for the reason the row names. The library recurses once
// per level and copies a shared value each time it is named. A UTF-16 string holding
// NUL is sent to the real helper by its hostile-client test.
TEST(PropertyList, ListsTheLibraryCouldMisreadOrOverflowOnAreRefused) {
    auto withByte = [](std::string list, const std::string& marker, char byte) {
        list[list.find(marker) + 1] = byte;
        return list;
    };
    std::string binary = PropertyList::binary(PropertyDictionary{{"kQy", "vQw"}});
    // The input: 149,000 one-element arrays, each inside the one before.
    std::vector<std::string> deep;
    for (std::uint64_t object = 1; object < 149'000; ++object) deep.push_back(arrayObject({object}, 3));
    deep.push_back(arrayObject({}, 3));
    // 40 arrays each naming the next twice would make 2^40 values.
    std::vector<std::string> doubling;
    for (std::uint64_t object = 1; object <= 40; ++object) doubling.push_back(arrayObject({object, object}, 1));
    doubling.push_back("\x51x");
    const std::string nul = "holds text with a NUL character";
    const std::pair<std::string, std::string> cases[] = {
        {withByte(binary, "kQy", '\0'), nul},
        {withByte(binary, "vQw", '\0'), nul},
        {withByte(binary, "vQw", '\xff'), "holds text that is not UTF-8"},
        {std::string("<plist version=\"1.0\"><string>a\0b</string></plist>", 44), ""},
        {PropertyList::binary(nestedArrays(257)), "is nested too deeply"},
        {nestedXML(257), "is nested too deeply"},
        {binaryList(deep, 3), "is nested too deeply"},
        {nestedXML(100'000), "is nested too deeply"},
        {binaryList(doubling, 1), "holds too many values"},
        {binaryList({arrayObject({0}, 1)}, 1), "holds too many values"},  // an array holding itself
        // XML markup that could hide nesting from the scan: where two readings could differ
        // the scan refuses.
        {"<plist><!-- > --><array></array></plist>", "has a comment holding \">\""},
        {"<plist><array a=\"></array>\"></array></plist>", "has a tag with an unclosed quote"},
        {"<plist><array a=\"<array>\"></array></plist>", "has a tag holding \"<\""},
        {"<!DOCTYPE plist [ <!ENTITY a \"b\"> ]><plist><array/></plist>", "has a tag holding \"<\""},
        {"<plist><array></dict></plist>", "has a closing tag that does not match"},
        {"<plist><array><![CDATA[ > ]]></array></plist>", "has a CDATA section holding \">\""},
        {"<plist><array>", ""},  // unclosed
        {"<plist><array><", "has an unclosed tag"},
    };
    for (const auto& [bytes, why] : cases) {
        SCOPED_TRACE(why + ": " + bytes.substr(0, 60));
        try {
            PropertyList::read(bytes);
            ADD_FAILURE() << "read a refused list";
        } catch (const PropertyListError& error) {
            EXPECT_NE(std::string(error.what()).find(why), std::string::npos) << error.what();
        }
    }
}

TEST(Bundle, OpensItsInfoAndReportsABrokenOne) {
    testsupport::TemporaryDirectory folder;
    std::string app = testsupport::buildBundle(folder.path(), "Sample");
    auto bundle = Bundle::open(FileURL(app));
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->bundleIdentifier(), "com.example.sample");
    EXPECT_EQ(bundle->bundleURL().path(), app);

    std::string info = app + "/Contents/Info.plist";
    testsupport::writeFile(info, PropertyList::binary(PropertyDictionary{{"CFBundleIdentifier", std::int64_t{7}}}));
    EXPECT_EQ(Bundle::open(FileURL(app))->bundleIdentifier(), std::nullopt);

    testsupport::writeFile(info, "<plist><dict>broken");
    EXPECT_THROW(Bundle::open(FileURL(app)), PropertyListError);

    ::unlink(info.c_str());
    EXPECT_TRUE(Bundle::open(FileURL(app))->infoDictionary().empty());
    EXPECT_FALSE(Bundle::open(FileURL(folder / "missing.app")));
}

