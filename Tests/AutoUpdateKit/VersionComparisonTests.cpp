#include "AutoUpdateKit/AppVersion.hpp"
#include "AutoUpdateKit/AutoUpdateResults.hpp"
#include "SystemVersionRequirement.hpp"

#include <gtest/gtest.h>

using autoupdatekit::AppVersion;

TEST(VersionComparison, DottedNumericRules) {
    struct Case {
        std::string left;
        std::string right;
        int expected;
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},        {"1.9", "1.10", -1},      {"1.2", "1.2.0", 0},     {"1.2", "1.2.0.0", 0},
        {"1.-1", "1", -1},         {"2.0b", "2.0", 0},       {"2.0b", "2.1", -1},     {"1.2-beta", "1.0", 0},
        {"", "0", 0},              {"", "0.1", -1},          {"+3", "3", 0},          {"007.1", "7.1", 0},
        {"99999999999999999999", "0", 0},                    {"9223372036854775807", "9223372036854775806", 1},
        {"-9223372036854775808", "0", -1},                   {" 1", "0", 0},          {"1\n", "1", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AppVersion::compareDotted(c.left, c.right), c.expected) << '"' << c.left << "\" vs \"" << c.right << '"';
        EXPECT_EQ(AppVersion::compareDotted(c.right, c.left), -c.expected) << '"' << c.right << "\" vs \"" << c.left << '"';
    }
}

// Pre-releases order below their release and by their pieces; texts without one order
// as the dotted rules above have them, in the release order and for builds too.
TEST(VersionComparison, PreReleasesOrderBelowTheirReleaseAndByTheirPieces) {
    const std::vector<std::string> ascending = {"1.9", "2.0-alpha", "2.0b1", "2.0b3", "2.0-beta", "2.0-beta.2",
                                                "2.0-beta.10", "2.0.beta.11-x", "2.0RC1", "2.0-rc.2", "2.0", "2.0.1-b1", "2.0.1"};
    for (std::size_t left = 0; left < ascending.size(); ++left) {
        for (std::size_t right = 0; right < ascending.size(); ++right) {
            int expected = left == right ? 0 : (left > right ? 1 : -1);
            EXPECT_EQ(AppVersion::compareVersions(ascending[left], ascending[right]), expected) << ascending[left] << " vs " << ascending[right];
        }
    }
    EXPECT_EQ(AppVersion::compareVersions("2.0-beta.02", "2.0-Beta2"), 0);
    EXPECT_EQ(AppVersion::compare({"2.0", "2.0b1"}, {"2.0", "2.0"}), -1);
    for (const auto& [left, right] : std::vector<std::pair<std::string, std::string>>{
             {"1.10", "1.9"}, {"1.2", "1.2.0"}, {"1.-1", "1"}, {"2.0_1", "2.0"}, {"+3", "3"}, {" 1", "0"}, {"1\n", "1"}}) {
        EXPECT_EQ(AppVersion::compareVersions(left, right), AppVersion::compareDotted(left, right)) << left << " vs " << right;
    }
}

TEST(VersionComparison, MinimumSystemVersionAgainstTheRunningSystem) {
    std::string current = autoupdatekit::currentSystemVersionString();
    ASSERT_EQ(std::count(current.begin(), current.end(), '.'), 2) << current;
    std::string major = current.substr(0, current.find('.'));

    for (const std::optional<std::string>& passes : {std::optional<std::string>(), std::optional<std::string>("   \n"),
                                                    std::optional<std::string>(major), std::optional<std::string>(current),
                                                    std::optional<std::string>(" 9999"), std::optional<std::string>("1.0\n")}) {
        EXPECT_NO_THROW(autoupdatekit::validateMinimumSystemVersion(passes)) << passes.value_or("(absent)");
    }
    try {
        autoupdatekit::validateMinimumSystemVersion(std::string("9999.1\n"));
        FAIL() << "expected unsupportedSystemVersion";
    } catch (const autoupdatekit::AutoUpdateError& error) {
        EXPECT_EQ(error.description(), "The update requires macOS 9999.1\n, but this Mac is running macOS " + current + ".");
    }
}
