#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "SigningKeys.hpp"

#include "AutoUpdateKit/ManifestCoding.hpp"
#include "AutoUpdateKit/ManifestExtension.hpp"
#include "Platform/KeyFile.hpp"
#include "Platform/Process.hpp"

#include <gtest/gtest.h>

using namespace testsupport;
namespace ManifestExtensionCoding = autoupdatekit::ManifestExtensionCoding;

namespace {

// The tool sits beside the stand-in tools in the build tree.
std::string toolPath() { return std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdate-manifest"; }

platform::CapturedOutput tool(std::vector<std::string> arguments) {
    return platform::runCapturingOutput(toolPath(), arguments);
}

class ManifestTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(tool({"keygen", folder_ / "publisher"}).status, 0);
        writeFile(folder_ / "Sample.zip", std::string(70000, 'z'));
        writeFile(folder_ / "notes.txt", "Fixes a crash.\nNew: caf\xC3\xA9 mode.");
    }

    std::vector<std::string> makeArguments(const std::vector<std::string>& options = {}) {
        std::vector<std::string> arguments = {"make", "--archive", folder_ / "Sample.zip", "--url", "https://updates.example.com/Sample.zip",
                                              "--app-name", "Sample", "--bundle-id", "com.example.sample", "--version", "2.0", "--build", "7",
                                              "--minimum-system-version", "12", "--release-date", "2025-03-14T10:30:00+01:00",
                                              "--release-notes-file", folder_ / "notes.txt"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return arguments;
    }

    // The release make writes for the arguments, as the file <folder>/name.
    std::string draft(const std::string& name, const std::vector<std::string>& arguments) {
        writeFile(folder_ / name, tool(arguments).bytes);
        return folder_ / name;
    }

    int verify(const std::string& publicKey) { return tool({"verify", "--public-key", publicKey, folder_ / "manifest.json"}).status; }

    TemporaryDirectory folder_;
};

}  // namespace

// keygen writes a private key only its owner reads and never overwrites one; a release
// signed with it (read from standard input, or with the older base64 form of the key)
// verifies with its public half in either form, and reads back as it was made. A
// private key is refused where a public one belongs, and the reverse.
TEST_F(ManifestTool, KeysInEveryFormSignVerifyAndPrintAgreeAndAreNeverMixedUp) {
    const std::string key = folder_ / "publisher.key";
    EXPECT_EQ(lstatOf(key).st_mode & 0777, 0600u);
    std::string before = readFile(key);
    auto again = tool({"keygen", folder_ / "publisher"});
    EXPECT_NE(again.status, 0);
    EXPECT_NE(again.bytes.find("refusing to overwrite"), std::string::npos);
    EXPECT_EQ(readFile(key), before);

    auto made = runSeparatingOutput(toolPath(), makeArguments());
    ASSERT_EQ(made.status, 0) << made.standardError;
    EXPECT_EQ(made.standardError, "");
    const std::string& release = made.standardOutput;
    EXPECT_NE(release.find("\"archiveSize\" : 70000,"), std::string::npos) << release;
    EXPECT_NE(release.find("\"archiveFileName\" : \"Sample.zip\","), std::string::npos);
    EXPECT_NE(release.find("\"releaseDate\" : \"2025-03-14T09:30:00Z\","), std::string::npos);
    EXPECT_NE(release.find("\"releaseNotes\" : \"Fixes a crash.\\nNew: caf\xC3\xA9 mode.\","), std::string::npos);
    writeFile(folder_ / "payload.json", release);
    auto signed_ = platform::runCapturingOutput("/bin/sh", {"-c", "exec \"$0\" sign --key \"$1\" - < \"$2\"", toolPath(), key, folder_ / "payload.json"});
    ASSERT_EQ(signed_.status, 0) << signed_.bytes;
    EXPECT_EQ(signed_.bytes.substr(0, 17), "{\n  \"payload\" : {");
    EXPECT_NE(signed_.bytes.back(), '\n');
    writeFile(folder_ / "manifest.json", signed_.bytes);
    // The older form of the same key: the base64 text of its seed. Ed25519 signatures are
    // deterministic, so the same key gives the same manifest.
    writeFile(folder_ / "legacy.key", platform::base64Encode(platform::readPrivateKeyFile(key).seed()) + "\n", 0600);
    EXPECT_EQ(tool({"sign", "--key", folder_ / "legacy.key", folder_ / "payload.json"}).bytes, signed_.bytes);

    // openssl reads the key and gives its public half as PEM.
    openssl({"pkey", "-in", key, "-pubout", "-out", folder_ / "publisher-public.pem"});
    for (const auto& publicKey : {folder_ / "publisher.pub", folder_ / "publisher-public.pem"}) {
        EXPECT_EQ(verify(publicKey), 0) << publicKey;
        auto refused = runSeparatingOutput(toolPath(), {"sign", "--key", publicKey, folder_ / "payload.json"});
        EXPECT_EQ(refused.status, 1) << publicKey;
        EXPECT_EQ(refused.standardOutput, "") << publicKey;
        EXPECT_NE(refused.standardError.find(publicKey + ": "), std::string::npos) << refused.standardError;
        EXPECT_NE(refused.standardError.find("public key; signing needs the private key"), std::string::npos) << refused.standardError;
    }
    auto swapped = tool({"verify", "--public-key", key, folder_ / "manifest.json"});
    EXPECT_EQ(swapped.status, 2);
    EXPECT_NE(swapped.bytes.find("this is a private key"), std::string::npos) << swapped.bytes;
    EXPECT_EQ(tool({"print", "--canonical", folder_ / "manifest.json"}).bytes, release);
    auto shown = tool({"print", folder_ / "manifest.json"});
    EXPECT_NE(shown.bytes.find("Update identifier:      2.0-7\n"), std::string::npos) << shown.bytes;
}

TEST_F(ManifestTool, MakeWarnsAboutVersionsThatCompareAsZeroAndRefusesNonWebURLs) {
    auto arguments = makeArguments();
    arguments[10] = "2.0-beta.2";
    arguments[12] = "7rc1";
    EXPECT_EQ(runSeparatingOutput(toolPath(), arguments).standardError, "");
    arguments[10] = "2.0_beta";
    arguments[12] = "7+a";
    auto warned = runSeparatingOutput(toolPath(), arguments);
    EXPECT_EQ(warned.status, 0);
    EXPECT_NE(warned.standardOutput.find("\"version\" : \"2.0_beta\"\n"), std::string::npos) << warned.standardOutput;
    EXPECT_EQ(warned.standardError,
              "autoupdate-manifest make: warning: --version 2.0_beta: \"0_beta\" is not a number and compares as 0\n"
              "autoupdate-manifest make: warning: --build 7+a: \"7+a\" is not a number and compares as 0\n");

    for (const std::string url : {"file:///srv/Sample.zip", "ftp://updates.example.com/Sample.zip", "javascript:x"}) {
        arguments[4] = url;
        auto refused = runSeparatingOutput(toolPath(), arguments);
        EXPECT_EQ(refused.status, 2) << url;
        EXPECT_EQ(refused.standardOutput, "") << url;
        EXPECT_NE(refused.standardError.find("--url must be an http or https URL"), std::string::npos) << refused.standardError;
    }
}

// make lists a delta in the signed extension, and refuses one made from another
// version. Signing with two keys and an expiry; refresh renews the expiry, raises the
// sequence, keeps the rest and refuses a manifest whose signature is not by one of its
// keys.
TEST_F(ManifestTool, SignsDeltasWithSeveralKeysAndAnExpiryThatRefreshRenews) {
    using namespace std::chrono_literals;
    SampleBundle sample;
    sample.extraInfo["CFBundleShortVersionString"] = std::string("1.0");
    sample.extraInfo["CFBundleVersion"] = std::string("10");
    std::string oldApp = buildBundle(folder_ / "old", "Sample", sample);
    sample.executableScript = "#!/bin/sh\nexit 1\n";
    std::string newApp = buildBundle(folder_ / "new", "Sample", sample);
    const std::string patch = folder_ / "Sample-1.0.delta";
    auto delta = tool({"delta", "--from", oldApp, "--to", newApp, "--output", patch});
    ASSERT_EQ(delta.status, 0) << delta.bytes;
    ASSERT_EQ(tool({"keygen", folder_ / "next"}).status, 0);
    std::string release = draft("draft.json", makeArguments({"--delta", "1.0=" + patch}));
    auto signed_ = tool({"sign", "--key", folder_ / "publisher.key", "--key", folder_ / "next.key", "--expires-in", "30d", release});
    ASSERT_EQ(signed_.status, 0) << signed_.bytes;
    writeFile(folder_ / "manifest.json", signed_.bytes);
    EXPECT_EQ(tool({"verify", "--public-key", folder_ / "publisher.pub", folder_ / "manifest.json"}).bytes,
              "signature and extension signature verify\n");
    // Only the first key made the payload's own signature.
    EXPECT_EQ(tool({"verify", "--public-key", folder_ / "next.pub", folder_ / "manifest.json"}).bytes, "signature does not verify\n");

    auto payload = autoupdatekit::ManifestCoding::makeDecoder().decodeManifest(signed_.bytes).payload;
    auto extension = ManifestExtensionCoding::decodeExtension(signed_.bytes);
    ASSERT_TRUE(extension && extension->deltas.size() == 1 && extension->expires && extension->sequence);
    const auto& listed = extension->deltas[0];
    EXPECT_EQ(listed.url, "https://updates.example.com/Sample-1.0.delta");
    EXPECT_EQ(listed.fromBuild, "10");
    EXPECT_EQ(listed.size, static_cast<std::int64_t>(readFile(patch).size()));
    auto digest = platform::sha256OfFile(patch);
    EXPECT_EQ(listed.sha256, platform::hexLowercase(digest.data(), digest.size()));
    EXPECT_NE(delta.bytes.find("From tree: " + listed.fromTreeSHA256 + "\nTo tree:   " + listed.toTreeSHA256), std::string::npos);
    EXPECT_NE(tool({"print", folder_ / "manifest.json"}).bytes.find("Delta from:             1.0 (build 10), "), std::string::npos);
    EXPECT_EQ(extension->bundleIdentifier, "com.example.sample");
    EXPECT_EQ(ManifestExtensionCoding::countSigningKeys(payload, *extension, {readFile(folder_ / "publisher.pub"), readFile(folder_ / "next.pub")}),
              2u);
    const auto now = std::chrono::system_clock::now();
    EXPECT_LT(std::chrono::abs(*extension->expires - 30 * 24h - now), 600s);

    auto refreshed = tool({"refresh", "--key", folder_ / "publisher.key", "--expires-in", "2h", folder_ / "manifest.json"});
    ASSERT_EQ(refreshed.status, 0) << refreshed.bytes;
    auto renewed = ManifestExtensionCoding::decodeExtension(refreshed.bytes);
    EXPECT_EQ(autoupdatekit::ManifestCoding::makeDecoder().decodeManifest(refreshed.bytes).payload, payload);
    EXPECT_GT(renewed->sequence, extension->sequence);
    EXPECT_LT(std::chrono::abs(*renewed->expires - 2h - now), 600s);
    auto notOurs = tool({"refresh", "--key", folder_ / "next.key", folder_ / "manifest.json"});
    EXPECT_EQ(notOurs.status, 1);
    EXPECT_NE(notOurs.bytes.find("not by one of the given keys"), std::string::npos) << notOurs.bytes;

    auto refused = runSeparatingOutput(toolPath(), makeArguments({"--delta", "1.1=" + patch}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.standardError.find("was made from version 1.0 (build 10), not from 1.1"), std::string::npos) << refused.standardError;
}

// make writes a release for a channel, with its critical mark, lowest installed version
// and stepping stones; sign gathers one file per channel into one manifest whose
// payload, the first file's, is what older clients read.
TEST_F(ManifestTool, MakeAndSignPublishSeveralChannelsCriticalReleasesAndSteppingStones) {
    auto made = [&](const std::string& name, const std::string& version, const std::vector<std::string>& options) {
        auto arguments = makeArguments(options);
        arguments[10] = version;
        return draft(name, arguments);
    };
    std::string stone = made("stone.json", "1.5", {});
    std::string stable = made("stable.json", "2.0", {"--critical-below", "1.8", "--minimum-installed-version", "1.5", "--stepping-stone", stone});
    std::string beta = made("beta.json", "2.1-beta.1", {"--channel", "beta", "--critical"});
    auto signed_ = tool({"sign", "--key", folder_ / "publisher.key", stable, beta});
    ASSERT_EQ(signed_.status, 0) << signed_.bytes;

    auto extension = ManifestExtensionCoding::decodeExtension(signed_.bytes);
    ASSERT_TRUE(extension);
    EXPECT_EQ(extension->critical, autoupdatekit::CriticalUpdate{"1.8"});
    EXPECT_EQ(extension->minimumInstalledVersion, "1.5");
    EXPECT_EQ(extension->otherMembers.at("mustUnderstand"), "[\n  \"minimumInstalledVersion\"\n]");
    EXPECT_EQ(extension->steppingStones.at(0).payload.version, "1.5");
    EXPECT_EQ(extension->channels.at("beta").payload.version, "2.1-beta.1");
    EXPECT_EQ(extension->channels.at("beta").critical, autoupdatekit::CriticalUpdate{});
    // print shows the publisher what the extension signs.
    writeFile(folder_ / "channels.json", signed_.bytes);
    std::string shown = tool({"print", folder_ / "channels.json"}).bytes;
    for (const char* line : {"Channel:                stable\n", "Critical:               below 1.8\n", "Applies from version:   1.5\n",
                             "Stepping stone:         1.5 (build 7)\n", "Channel beta: 2.1-beta.1 (build 7), critical\n",
                             "Extension signatures:   1\n"}) {
        EXPECT_NE(shown.find(line), std::string::npos) << line << shown;
    }
    // A channel name every client would refuse is refused before anything is signed.
    auto misnamed = runSeparatingOutput(toolPath(), makeArguments({"--channel", "Beta Two"}));
    EXPECT_EQ(misnamed.status, 2);
    EXPECT_NE(misnamed.standardError.find("--channel takes 1 to 64 of a-z"), std::string::npos) << misnamed.standardError;

    auto twice = runSeparatingOutput(toolPath(), {"sign", "--key", folder_ / "publisher.key", stable, beta, beta});
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.standardError.find("a second release for the channel \"beta\""), std::string::npos) << twice.standardError;
}
