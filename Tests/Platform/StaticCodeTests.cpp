#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "PrivateSystemPaths.hpp"
#include "SigningKeys.hpp"
#include "TemporaryDirectory.hpp"

#include "Platform/CodeRequirement.hpp"
#include "Platform/Process.hpp"
#include "Platform/StaticCode.hpp"

using namespace platform;
using namespace platform::security;
using platform::codesigning::CodeRequirement;
using namespace testsupport;

namespace {

class StaticCodeTest : public PrivateSystemPaths {
protected:
    void SetUp() override {
        PrivateSystemPaths::SetUp();
        team_ = std::make_unique<TeamKey>(makeTeamKey(folder_.path(), "TEAMA1"));
        trustKeyForTeam(team_->key, "TEAMA1");
    }

    StaticCode codeFor(const std::string& path) {
        std::optional<StaticCode> code;
        EXPECT_EQ(StaticCode::create(FileURL(path), 0, code), statusSuccess);
        return *code;
    }


    TemporaryDirectory folder_;
    std::unique_ptr<TeamKey> team_;
};

}  // namespace

TEST_F(StaticCodeTest, RequirementsHoldOnlyForTrustedTeamSignaturesOfTheRightIdentity) {
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

TEST(KeyFiles, KeysMadeWithOpenSSLWorkAsKeyFiles) {
    TemporaryDirectory folder;
    std::string pem = folder / "key.pem";
    ASSERT_EQ(runCapturingOutput("/usr/bin/openssl", {"genpkey", "-algorithm", "ed25519", "-out", pem}).status, 0);
    std::string convert = "openssl pkey -in \"$0\" -outform DER | tail -c 32 | base64 > \"$0.key\" && "
                          "openssl pkey -in \"$0\" -pubout -outform DER | tail -c 32 | base64 > \"$0.pub\"";
    ASSERT_EQ(runCapturingOutput("/bin/sh", {"-c", convert, pem}).status, 0);
    Ed25519PrivateKey key = readPrivateKeyFile(pem + ".key");
    Ed25519PublicKey publicKey = readPublicKeyFile(pem + ".pub");
    EXPECT_EQ(key.publicKey().raw(), publicKey.raw());
    EXPECT_TRUE(publicKey.isValidSignature(key.signature("message"), "message"));
    EXPECT_FALSE(publicKey.isValidSignature(key.signature("message"), "massage"));

    writeFile(folder / "short.key", base64Encode(Bytes(31, 7)) + "\n");
    EXPECT_THROW(readPrivateKeyFile(folder / "short.key"), CryptoError);
    writeFile(folder / "spaced.key", " " + base64Encode(key.seed()) + "\n");
    EXPECT_THROW(readPrivateKeyFile(folder / "spaced.key"), CryptoError);
}
