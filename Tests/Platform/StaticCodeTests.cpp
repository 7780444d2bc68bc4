#include "BundleBuilder.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/CodeRequirement.hpp"
#include "Platform/StaticCode.hpp"

using namespace platform;
using namespace platform::security;
using platform::codesigning::CodeRequirement;
using namespace testsupport;

using StaticCodeTest = UpdaterEnvironment;

TEST_F(StaticCodeTest, RequirementsHoldOnlyForTrustedTeamSignaturesOfTheRightIdentity) {
    auto codeFor = [](const std::string& path) {
        std::optional<StaticCode> code;
        EXPECT_EQ(StaticCode::create(FileURL(path), 0, code), statusSuccess);
        return *code;
    };
    const std::string text =
        "identifier \"com.example.sample\" and anchor apple generic and certificate leaf[subject.OU] = \"TEAMA1\"";
    auto requirement = CodeRequirement::parse(text);
    ASSERT_TRUE(requirement);

    std::string good = buildBundle(folder_.path(), "Good");
    signWithTeam(good, *team_);
    EXPECT_EQ(codeFor(good).checkValidity(0, &*requirement, nullptr), statusSuccess);

    std::string adHoc = buildBundle(folder_.path(), "AdHoc");
    signAdHoc(adHoc);
    EXPECT_EQ(codeFor(adHoc).checkValidity(0, &*requirement, nullptr), statusRequirementFailed);

    TeamKey stranger = makeTeamKey(folder_.path(), "TEAMA1");
    std::string untrusted = buildBundle(folder_.path(), "Untrusted");
    signWithTeam(untrusted, stranger);
    EXPECT_EQ(codeFor(untrusted).checkValidity(0, &*requirement, nullptr), statusUntrustedKey);

    SampleBundle otherIdentity;
    otherIdentity.identifier = "com.example.other";
    std::string other = buildBundle(folder_.path(), "Other", otherIdentity);
    signWithTeam(other, *team_);
    EXPECT_EQ(codeFor(other).checkValidity(0, &*requirement, nullptr), statusRequirementFailed);

    for (const std::string bad : {"", "anchor apple", "identifier com.example.sample", "identifier \"a\" or anchor apple generic",
                                  "identifier \"a\" and ", "certificate leaf[subject.OU] = \"\"", "identifier \"a\"b\""}) {
        EXPECT_FALSE(CodeRequirement::parse(bad)) << bad;
    }
}

