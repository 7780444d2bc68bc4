#include "Platform/CodeSeal.hpp"
#include "Platform/CodeSealLayout.hpp"

#include <gtest/gtest.h>

using namespace platform::codesigning;

namespace {

CodeSeal teamSeal(const std::string& oddName) {
    CodeSeal seal;
    seal.identifier = "com.example.sample";
    seal.teamIdentifier = "ABCDE12345";
    seal.publicKey = platform::Bytes(32, 7);
    seal.signature = platform::Bytes(64, 9);
    seal.entries = {{"Contents", SealedEntry::Type::directory, 0755, ""},
                    {"Contents/Info.plist", SealedEntry::Type::file, 0644, std::string(64, 'a')},
                    {"Contents/Resources/" + oddName, SealedEntry::Type::file, 04755, std::string(64, 'b')},
                    {"Contents/Resources/current", SealedEntry::Type::symbolicLink, 0, "../Resources/x y"}};
    seal.nested = {{"Contents/Frameworks/Kit.framework", std::string(64, 'c')}};
    return seal;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) text.replace(at, from.size(), to);
    return text;
}

}  // namespace

// The one-pass reader takes what signing writes; what it leaves (escaped or non-ASCII
// text, another layout) the general reader takes, and both give the seal that was written.
TEST(CodeSeal, EveryWrittenSealReadsBackTheSameWhicheverReaderTakesIt) {
    CodeSeal plain = teamSeal("plain name.txt");
    std::string plainBytes = plain.propertyList();
    EXPECT_EQ(readWrittenSealLayout(plainBytes), plain);

    CodeSeal adHoc = plain;
    adHoc.teamIdentifier.reset();
    adHoc.publicKey.reset();
    adHoc.signature.clear();
    adHoc.nested.clear();
    EXPECT_EQ(readWrittenSealLayout(adHoc.propertyList()), adHoc);

    for (const std::string& oddName : {std::string("a&b<c>.txt"), std::string("caf\xC3\xA9"), std::string("tab\there")}) {
        CodeSeal odd = teamSeal(oddName);
        std::string bytes = odd.propertyList();
        EXPECT_FALSE(readWrittenSealLayout(bytes).has_value()) << oddName;
        EXPECT_EQ(CodeSeal::fromPropertyList(bytes), odd) << oddName;
    }
    std::string spaced = replaced(plainBytes, "\t", "  ");
    EXPECT_FALSE(readWrittenSealLayout(spaced).has_value());
    EXPECT_EQ(CodeSeal::fromPropertyList(spaced), plain);
}

// A seal the general reader refuses is never taken by the one-pass reader instead.
TEST(CodeSeal, ValuesTheGeneralReaderRefusesAreRefusedInTheWrittenLayoutToo) {
    std::string bytes = teamSeal("plain").propertyList();
    const std::pair<std::string, std::string> broken[] = {
        {"<integer>2541</integer>", "<integer>99999</integer>"},         // mode past 07777
        {"<integer>1</integer>", "<integer>2</integer>"},                // unknown version
        {"<string>link</string>", "<string>pipe</string>"},              // unknown entry type
        {"<key>publicKey</key>\n\t<string>", "<key>publicKey</key>\n\t<string>!"},  // not base64
        {"<key>identifier</key>", "<key>identity</key>"},               // no identifier
    };
    for (const auto& [from, to] : broken) {
        std::string changed = replaced(bytes, from, to);
        ASSERT_NE(changed, bytes) << from;
        EXPECT_FALSE(readWrittenSealLayout(changed).has_value()) << to;
        EXPECT_THROW(CodeSeal::fromPropertyList(changed), SealFormatError) << to;
    }
    EXPECT_THROW(CodeSeal::fromPropertyList(bytes.substr(0, bytes.size() / 2)), SealFormatError);
}
