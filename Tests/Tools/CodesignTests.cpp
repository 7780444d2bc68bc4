#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "TmpfsMount.hpp"
#include "UpdaterEnvironment.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;

namespace {

class Codesign : public UpdaterEnvironment {
protected:
    // "" when the bundle verifies, else the diagnostic.
    std::string verify(const std::string& bundle, std::vector<std::string> flags = {"--deep", "--strict"}) {
        flags.insert(flags.begin(), "--verify");
        flags.insert(flags.end(), {"--verbose=2", bundle});
        auto result = codesign(flags);
        return result.status == 0 ? "" : (result.output.empty() ? "failed without a diagnostic" : result.output);
    }
};

}  // namespace

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
        {"removed file", [](const std::string& app) { ::unlink((app + "/Contents/Resources/readme.txt").c_str()); },
         "file missing: Contents/Resources/readme.txt"},
        {"changed mode", [](const std::string& app) { ::chmod((app + "/Contents/MacOS/Sample").c_str(), 0777); },
         "mode changed: Contents/MacOS/Sample"},
        {"changed link target", [](const std::string& app) {
             ::unlink((app + "/Contents/Resources/link").c_str());
             ::symlink("other.txt", (app + "/Contents/Resources/link").c_str());
         }, "symbolic link target changed: Contents/Resources/link"},
        {"file swapped for a FIFO", [](const std::string& app) {
             ::unlink((app + "/Contents/Resources/readme.txt").c_str());
             ::mkfifo((app + "/Contents/Resources/readme.txt").c_str(), 0644);
         }, "unsupported file type: Contents/Resources/readme.txt"},
        {"file swapped for a link", [](const std::string& app) {
             ::unlink((app + "/Contents/Resources/readme.txt").c_str());
             ::symlink("/etc/hostname", (app + "/Contents/Resources/readme.txt").c_str());
         }, "type changed: Contents/Resources/readme.txt"},
        {"folder swapped for a link to a copy", [](const std::string& app) {
             ::rename((app + "/Contents/Resources").c_str(), (app + ".resources").c_str());
             ::symlink((app + ".resources").c_str(), (app + "/Contents/Resources").c_str());
         }, "type changed: Contents/Resources"},
        {"corrupt seal", [](const std::string& app) { writeFile(app + "/Contents/_CodeSignature/CodeResources", "garbage"); },
         "resource seal is corrupt"},
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
        signWithTeam(app, *team_);
        ASSERT_EQ(verify(app), "") << c.name;
        c.tamper(app);
        EXPECT_NE(verify(app).find(c.diagnostic), std::string::npos) << c.name << ": " << verify(app);
        platform::removeRecursively(app);
        platform::removeRecursively(app + ".resources");
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
    writeFile(folder_ / "outside.pub", platform::base64Encode(team_->key.publicKey().raw()) + "\n");
    std::string climbing = buildBundle(folder_.path(), "Climbing");
    auto refused = codesign({"--sign", team_->privateKeyFile, "--team", "../x", climbing});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("invalid team identifier"), std::string::npos) << refused.output;
    signWithTeam(climbing, *team_);
    std::string seal = climbing + "/Contents/_CodeSignature/CodeResources";
    std::string bytes = readFile(seal);
    bytes.replace(bytes.find("<string>TEAMA1</string>"), 23, "<string>../../../../" + folder_.path() + "/outside</string>");
    writeFile(seal, bytes);
    EXPECT_NE(verify(climbing).find("invalid team identifier"), std::string::npos) << verify(climbing);
}

// A sealed file that turns into a FIFO or a link between the walk and its hashing is
// neither waited on nor followed: every verification ends (a hung one is killed after
// 20 s), and one that fails names that file without having read the link's target. The
// larger files walked first hold the hashing back, so the swaps land in that window.
TEST_F(Codesign, AFileSwappedDuringVerificationFailsItWithoutHangingOrBeingFollowed) {
    std::string app = buildBundle(folder_.path(), "Swapped");
    for (int index = 0; index < 16; ++index) writeFile(app + "/Contents/Data/part" + std::to_string(index), std::string(2 << 20, 'x'));
    std::string file = app + "/Contents/Resources/readme.txt";
    signWithTeam(app, *team_);
    std::string original = readFile(file);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        std::string spare = folder_.path() + "/spare";
        for (int round = 0; round < 1000000 && !stop; ++round) {
            if (round % 3 == 0) ::mkfifo(spare.c_str(), 0644);
            else if (round % 3 == 1) ::symlink("/etc/hostname", spare.c_str());
            else writeFile(spare, original);
            ::rename(spare.c_str(), file.c_str());
        }
    });
    std::string unexpected;
    for (int run = 0; run < 30; ++run) {
        auto result = platform::runCapturingOutput("/usr/bin/timeout", {"20", platform::paths::codesign(), "--verify", "--deep", "--strict", app});
        bool namesTheFile = result.bytes.find("Contents/Resources/readme.txt") != std::string::npos;
        bool followed = result.bytes.find("file modified") != std::string::npos;
        if (result.status != 0 && (!namesTheFile || followed)) unexpected += "status " + std::to_string(result.status) + ": " + result.bytes;
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(unexpected, "");
}

// A staged tree may nest folders tens of thousands deep: the scan refuses it, signing
// or verifying, instead of running out of stack.
TEST_F(Codesign, FoldersNestedTensOfThousandsDeepAreRefusedWithoutACrash) {
    TmpfsMount memory(folder_ / "deep", "mode=0755");  // a disk takes a minute for these folders
    ASSERT_TRUE(memory.mounted());
    std::string app = buildBundle(folder_ / "deep", "Deep");
    signWithTeam(app, *team_);
    std::string top = app + "/Contents/Resources/d";
    ASSERT_EQ(::mkdir(top.c_str(), 0755), 0);
    int folder = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 20000 && folder >= 0; ++level) {
        int child = ::mkdirat(folder, "d", 0755) == 0 ? ::openat(folder, "d", O_RDONLY | O_DIRECTORY) : -1;
        ::close(folder);
        folder = child;
    }
    ASSERT_GE(folder, 0);
    ::close(folder);

    auto signing = codesign({"--sign", "-", app});
    EXPECT_EQ(signing.status, 1);
    EXPECT_NE(signing.output.find("folders nested more than 512 deep"), std::string::npos) << signing.output;
    EXPECT_NE(verify(app).find("folders nested more than 512 deep"), std::string::npos) << verify(app);
    EXPECT_EQ(platform::runCapturingOutput("/bin/rm", {"-rf", top}).status, 0);  // rm needs no descriptor per level
}

TEST_F(Codesign, StrictModeRefusesLinksThatLeaveTheBundle) {
    std::string app = buildBundle(folder_.path(), "Links");
    ASSERT_EQ(::symlink("/etc/hostname", (app + "/Contents/Resources/absolute").c_str()), 0);
    signWithTeam(app, *team_);
    EXPECT_EQ(verify(app, {}), "");
    EXPECT_NE(verify(app, {"--strict"}).find("points outside the bundle"), std::string::npos);

    std::string climbing = buildBundle(folder_.path(), "Climbing");
    ASSERT_EQ(::symlink("../../../x", (climbing + "/Contents/Resources/up").c_str()), 0);
    ASSERT_EQ(::symlink("../MacOS/Sample", (climbing + "/Contents/Resources/inside").c_str()), 0);
    signWithTeam(climbing, *team_);
    EXPECT_NE(verify(climbing, {"--strict"}).find("Contents/Resources/up points outside"), std::string::npos);
}

TEST_F(Codesign, DeepVerificationChecksNestedCode) {
    std::string app = buildBundle(folder_.path(), "Outer");
    std::string helper = buildBundle(app + "/Contents/Helpers", "Inner");
    auto unsignedNested = codesign({"--sign", team_->privateKeyFile, "--team", "TEAMA1", app});
    EXPECT_NE(unsignedNested.status, 0);
    EXPECT_NE(unsignedNested.output.find("nested code is not signed: Contents/Helpers/Inner.app"), std::string::npos);

    signWithTeam(app, *team_, true);
    EXPECT_EQ(verify(app), "");
    EXPECT_EQ(verify(helper), "");

    // Deep verification reuses the outer scan for nested code, so that scan must be held
    // to the nested seal: a file added after the nested seal, sealed over by the outer one.
    writeFile(helper + "/Contents/Resources/late.txt", "late");
    signWithTeam(app, *team_);
    EXPECT_NE(verify(app).find("nested code is invalid: Contents/Helpers/Inner.app: a sealed resource is missing or "
                               "invalid: file added: Contents/Resources/late.txt"),
              std::string::npos)
        << verify(app);
    signWithTeam(app, *team_, true);
    EXPECT_EQ(verify(app), "");

    // Nested code signed by an untrusted key, sealed over by the trusted outer bundle.
    TeamKey stranger = makeTeamKey(folder_.path(), "TEAMC3");
    signWithTeam(helper, stranger);
    signWithTeam(app, *team_);
    EXPECT_EQ(verify(app, {"--strict"}), "");
    EXPECT_NE(verify(app).find("nested code is invalid: Contents/Helpers/Inner.app: the signing key is not trusted"),
              std::string::npos)
        << verify(app);
}

TEST_F(Codesign, TrustedKeyOptionTrustsThatKeyForOneRunWithoutTouchingTheTrustStore) {
    TeamKey stranger = makeTeamKey(folder_.path(), "TEAMC3");
    std::string app = buildBundle(folder_.path(), "Stranger");
    signWithTeam(app, stranger);
    std::string trustStore = listTree(platform::paths::trustStoreDirectory);
    std::string base64Key = folder_ / "stranger.pub";
    writeFile(base64Key, platform::base64Encode(stranger.key.publicKey().raw()) + "\n");
    std::string pemKey = folder_ / "stranger-public.pem";
    openssl({"pkey", "-in", stranger.privateKeyFile, "-pubout", "-out", pemKey});

    EXPECT_EQ(verify(app, {"--deep", "--strict", "--trusted-key", base64Key}), "");
    EXPECT_EQ(verify(app, {"--trusted-key", pemKey}), "");
    EXPECT_NE(verify(app).find("not trusted for team TEAMC3"), std::string::npos) << "trusted beyond its run";
    EXPECT_EQ(listTree(platform::paths::trustStoreDirectory), trustStore);

    writeFile(folder_ / "wrong.pub", platform::base64Encode(team_->key.publicKey().raw()) + "\n");
    EXPECT_NE(verify(app, {"--trusted-key", folder_ / "wrong.pub"}).find("not trusted for team TEAMC3"), std::string::npos);

    // Trust is all the option changes: a tampered bundle still fails.
    writeFile(app + "/Contents/Resources/readme.txt", "evil\n");
    EXPECT_NE(verify(app, {"--trusted-key", base64Key}).find("file modified"), std::string::npos);

    // A private key is not something to hand around as a trusted key.
    auto refused = codesign({"--verify", "--trusted-key", stranger.privateKeyFile, app});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("this is a private key"), std::string::npos) << refused.output;
}
