#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "PrivateSystemPaths.hpp"
#include "SigningKeys.hpp"
#include "TemporaryDirectory.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

class Codesign : public PrivateSystemPaths {
protected:
    void SetUp() override {
        PrivateSystemPaths::SetUp();
        trusted_ = std::make_unique<TeamKey>(makeTeamKey(folder_.path(), "TEAMA1"));
        trustKeyForTeam(trusted_->key, "TEAMA1");
    }

    std::string verify(const std::string& bundle, std::vector<std::string> flags = {"--deep", "--strict"}) {
        flags.insert(flags.begin(), "--verify");
        flags.push_back("--verbose=2");
        flags.push_back(bundle);
        auto result = codesign(flags);
        return result.status == 0 ? "" : (result.output.empty() ? "failed without a diagnostic" : result.output);
    }

    std::string signedBundle(const std::string& name) {
        std::string app = buildBundle(folder_.path(), name);
        signWithTeam(app, *trusted_);
        return app;
    }

    TemporaryDirectory folder_;
    std::unique_ptr<TeamKey> trusted_;
};

}  // namespace

TEST_F(Codesign, TeamAndAdHocSignaturesVerifyAndShowTheirSigningInformation) {
    std::string app = signedBundle("My App With Spaces");
    EXPECT_EQ(verify(app), "");
    auto shown = codesign({"-d", app});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.output.find("Identifier=com.example.sample\n"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("TeamIdentifier=TEAMA1\n"), std::string::npos) << shown.output;

    std::string adHoc = buildBundle(folder_.path(), "AdHoc");
    signAdHoc(adHoc);
    EXPECT_EQ(verify(adHoc), "");
    EXPECT_NE(codesign({"-d", adHoc}).output.find("TeamIdentifier=not set\n"), std::string::npos);

    std::string unsignedApp = buildBundle(folder_.path(), "Unsigned");
    EXPECT_NE(verify(unsignedApp).find("code object is not signed at all"), std::string::npos);
}

TEST_F(Codesign, EveryKindOfTamperingFailsNamingTheFirstProblem) {
    struct Case {
        std::string name;
        std::function<void(const std::string&)> tamper;
        std::string diagnostic;
    };
    const Case cases[] = {
        {"changed file", [](const std::string& app) { writeFile(app + "/Contents/Resources/readme.txt", "evil\n"); },
         "file modified: Contents/Resources/readme.txt"},
        {"added file", [](const std::string& app) { writeFile(app + "/Contents/Resources/extra", "x"); },
         "file added: Contents/Resources/extra"},
        {"added beside the seal", [](const std::string& app) { writeFile(app + "/Contents/_CodeSignature/extra", "x"); },
         "file added: Contents/_CodeSignature/extra"},
        {"removed file", [](const std::string& app) { ::unlink((app + "/Contents/Resources/readme.txt").c_str()); },
         "file missing: Contents/Resources/readme.txt"},
        {"changed mode", [](const std::string& app) { ::chmod((app + "/Contents/MacOS/Sample").c_str(), 0777); },
         "mode changed: Contents/MacOS/Sample"},
        {"changed link target", [](const std::string& app) {
             ::unlink((app + "/Contents/Resources/link").c_str());
             ::symlink("other.txt", (app + "/Contents/Resources/link").c_str());
         }, "symbolic link target changed: Contents/Resources/link"},
        {"corrupt seal", [](const std::string& app) { writeFile(app + "/Contents/_CodeSignature/CodeResources", "garbage"); },
         "resource seal is corrupt"},
        {"truncated seal", [](const std::string& app) {
             std::string seal = app + "/Contents/_CodeSignature/CodeResources";
             std::string bytes = readFile(seal);
             writeFile(seal, bytes.substr(0, bytes.size() / 2));
         }, "resource seal is corrupt"},
        {"seal rewritten for a changed file", [](const std::string& app) {
             std::string seal = app + "/Contents/_CodeSignature/CodeResources";
             writeFile(app + "/Contents/Resources/readme.txt", "evil\n");
             std::string bytes = readFile(seal);
             auto digest = platform::sha256("evil\n");
             auto good = platform::sha256("sample resource\n");
             std::string from = platform::hexLowercase(good.data(), good.size());
             bytes.replace(bytes.find(from), from.size(), platform::hexLowercase(digest.data(), digest.size()));
             writeFile(seal, bytes);
         }, "signature does not verify"},
    };
    for (const auto& c : cases) {
        std::string app = buildBundle(folder_.path(), "Tampered");
        ASSERT_EQ(::symlink("readme.txt", (app + "/Contents/Resources/link").c_str()), 0);
        signWithTeam(app, *trusted_);
        ASSERT_EQ(verify(app), "") << c.name;
        c.tamper(app);
        EXPECT_NE(verify(app).find(c.diagnostic), std::string::npos) << c.name << ": " << verify(app);
        platform::removeRecursively(app);
    }
}

TEST_F(Codesign, SignaturesCountOnlyWithAKeyTrustedForTheClaimedTeam) {
    TeamKey stranger = makeTeamKey(folder_.path(), "TEAMA1");
    std::string forged = buildBundle(folder_.path(), "Forged");
    signWithTeam(forged, stranger);
    EXPECT_NE(verify(forged).find("not trusted for team TEAMA1"), std::string::npos);

    TeamKey other = makeTeamKey(folder_.path(), "TEAMB2");
    trustKeyForTeam(other.key, "TEAMB2");
    std::string claimed = buildBundle(folder_.path(), "Claimed");
    signWithTeam(claimed, TeamKey{other.key, "TEAMA1", other.privateKeyFile});
    EXPECT_NE(verify(claimed).find("not trusted for team TEAMA1"), std::string::npos);

    // Team names that could reach outside the trust store are refused both ways.
    writeFile(folder_ / "outside.pub", platform::base64Encode(trusted_->key.publicKey().raw()) + "\n");
    std::string climbing = buildBundle(folder_.path(), "Climbing");
    auto refused = codesign({"--sign", trusted_->privateKeyFile, "--team", "../x", climbing});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("invalid team identifier"), std::string::npos) << refused.output;
    signWithTeam(climbing, *trusted_);
    std::string seal = climbing + "/Contents/_CodeSignature/CodeResources";
    std::string bytes = readFile(seal);
    bytes.replace(bytes.find("<string>TEAMA1</string>"), 23, "<string>../../../../" + folder_.path() + "/outside</string>");
    writeFile(seal, bytes);
    EXPECT_NE(verify(climbing).find("invalid team identifier"), std::string::npos) << verify(climbing);
}

TEST_F(Codesign, StrictModeRefusesLinksThatLeaveTheBundle) {
    std::string app = buildBundle(folder_.path(), "Links");
    ASSERT_EQ(::symlink("/etc/hostname", (app + "/Contents/Resources/absolute").c_str()), 0);
    signWithTeam(app, *trusted_);
    EXPECT_EQ(verify(app, {}), "");
    EXPECT_NE(verify(app, {"--strict"}).find("points outside the bundle"), std::string::npos);

    std::string climbing = buildBundle(folder_.path(), "Climbing");
    ASSERT_EQ(::symlink("../../../x", (climbing + "/Contents/Resources/up").c_str()), 0);
    ASSERT_EQ(::symlink("../MacOS/Sample", (climbing + "/Contents/Resources/inside").c_str()), 0);
    signWithTeam(climbing, *trusted_);
    EXPECT_NE(verify(climbing, {"--strict"}).find("Contents/Resources/up points outside"), std::string::npos);
}

TEST_F(Codesign, DeepVerificationChecksNestedCode) {
    std::string app = buildBundle(folder_.path(), "Outer");
    std::string helper = buildBundle(app + "/Contents/Helpers", "Inner");
    auto unsignedNested = codesign({"--sign", trusted_->privateKeyFile, "--team", "TEAMA1", app});
    EXPECT_NE(unsignedNested.status, 0);
    EXPECT_NE(unsignedNested.output.find("nested code is not signed: Contents/Helpers/Inner.app"), std::string::npos);

    signWithTeam(app, *trusted_, true);
    EXPECT_EQ(verify(app), "");
    EXPECT_EQ(verify(helper), "");

    // Nested code signed by an untrusted key, sealed over by the trusted outer bundle.
    TeamKey stranger = makeTeamKey(folder_.path(), "TEAMC3");
    signWithTeam(helper, stranger);
    signWithTeam(app, *trusted_);
    EXPECT_EQ(verify(app, {"--strict"}), "");
    EXPECT_NE(verify(app).find("nested code is invalid: Contents/Helpers/Inner.app: the signing key is not trusted"),
              std::string::npos)
        << verify(app);
}
