#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "PrivateSystemPaths.hpp"
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

    // Writes a public key file as the trust store holds them, base64 on one line.
    std::string publicKeyFile(const TeamKey& key, const std::string& name) {
        writeFile(folder_ / name, platform::base64Encode(key.key.publicKey().raw()) + "\n");
        return folder_ / name;
    }
};

// Puts a link at path in place of what is there.
void replaceWithLink(const std::string& path, const std::string& target) {
    ::unlink(path.c_str());
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

void rewriteSeal(const std::string& app, const std::string& from, const std::string& to) {
    std::string seal = app + "/Contents/_CodeSignature/CodeResources";
    std::string bytes = readFile(seal);
    bytes.replace(bytes.find(from), from.size(), to);
    writeFile(seal, bytes);
}

std::string hexDigest(const std::string& bytes) {
    auto digest = platform::sha256(bytes);
    return platform::hexLowercase(digest.data(), digest.size());
}

}  // namespace

// Each row changes a bundle signed by the trusted team (or signs it anew) and verifies it
// with the row's flags: every kind of tampering, a key not trusted for the team claimed,
// a link leaving the bundle and nested code that fails, each named as the first problem.
TEST_F(Codesign, EveryKindOfTamperingOrUntrustedSignatureFailsNamingTheFirstProblem) {
    TeamKey stranger = makeTeamKey(folder_.path(), "TEAMA1");
    TeamKey other = makeTeamKey(folder_.path(), "TEAMB2");
    trustKeyForTeam(other.key, "TEAMB2");
    TeamKey unknown = makeTeamKey(folder_.path(), "TEAMC3");
    std::string unknownKey = publicKeyFile(unknown, "unknown.pub");
    // The trusted team's key, also where a team name climbing out of the trust store leads.
    std::string teamKey = publicKeyFile(*team_, "outside.pub");
    const std::string app = folder_ / "Tampered.app";
    const std::string resources = app + "/Contents/Resources/";
    const std::string readme = resources + "readme.txt";
    auto linkAndSign = [&](const std::string& name, const std::string& target) {
        replaceWithLink(resources + name, target);
        signWithTeam(app, *team_);
    };
    // Nested code, signed by the key, then the app sealed over it.
    auto nestedSignedBy = [&](const TeamKey& key) {
        signWithTeam(buildBundle(app + "/Contents/Helpers", "Inner"), key);
        signWithTeam(app, *team_);
    };
    struct Case {
        std::string name;
        std::function<void()> tamper;
        std::string diagnostic;  // "" for a bundle that verifies
        std::vector<std::string> flags = {"--deep", "--strict"};
    };
    const Case cases[] = {
        {"changed file", [&] { writeFile(readme, "evil\n"); }, "file modified: Contents/Resources/readme.txt"},
        {"added file", [&] { writeFile(resources + "extra", "x"); }, "file added: Contents/Resources/extra"},
        {"removed file", [&] { ::unlink(readme.c_str()); }, "file missing: Contents/Resources/readme.txt"},
        {"changed mode", [&] { ::chmod((app + "/Contents/MacOS/Sample").c_str(), 0777); }, "mode changed: Contents/MacOS/Sample"},
        {"changed link target", [&] { replaceWithLink(resources + "link", "other.txt"); },
         "symbolic link target changed: Contents/Resources/link"},
        {"file swapped for a FIFO", [&] {
             ::unlink(readme.c_str());
             ::mkfifo(readme.c_str(), 0644);
         }, "unsupported file type: Contents/Resources/readme.txt"},
        {"file swapped for a link", [&] { replaceWithLink(readme, "/etc/hostname"); }, "type changed: Contents/Resources/readme.txt"},
        {"folder swapped for a link to a copy", [&] {
             ::rename(resources.c_str(), (app + ".resources").c_str());
             replaceWithLink(app + "/Contents/Resources", app + ".resources");
         }, "type changed: Contents/Resources"},
        {"corrupt seal", [&] { writeFile(app + "/Contents/_CodeSignature/CodeResources", "garbage"); }, "resource seal is corrupt"},
        {"seal rewritten for a changed file", [&] {
             writeFile(readme, "evil\n");
             rewriteSeal(app, hexDigest("sample resource\n"), hexDigest("evil\n"));
         }, "signature does not verify"},
        {"signed by a key not trusted for its team", [&] { signWithTeam(app, stranger); }, "not trusted for team TEAMA1"},
        {"signed by another team's key", [&] { signWithTeam(app, TeamKey{other.key, "TEAMA1", other.privateKeyFile}); },
         "not trusted for team TEAMA1"},
        {"team climbing out of the trust store", [&] {
             rewriteSeal(app, "<string>TEAMA1</string>", "<string>../../../../" + folder_.path() + "/outside</string>");
         }, "invalid team identifier"},
        {"absolute link, not strict", [&] { linkAndSign("link", "/etc/hostname"); }, "", {}},
        {"absolute link", [&] { linkAndSign("link", "/etc/hostname"); }, "Contents/Resources/link points outside the bundle",
         {"--strict"}},
        {"link climbing out beside one inside", [&] {
             replaceWithLink(resources + "link", "../MacOS/Sample");
             linkAndSign("up", "../../../x");
         }, "Contents/Resources/up points outside", {"--strict"}},
        {"nested code signed deeply", [&] {
             buildBundle(app + "/Contents/Helpers", "Inner");
             signWithTeam(app, *team_, true);
         }, ""},
        // Deep verification reuses the outer scan for nested code, so that scan must be
        // held to the nested seal: a file added after it, sealed over by the outer one.
        {"nested code changed after its seal", [&] {
             nestedSignedBy(*team_);
             writeFile(app + "/Contents/Helpers/Inner.app/Contents/Resources/late.txt", "late");
             signWithTeam(app, *team_);
         }, "nested code is invalid: Contents/Helpers/Inner.app: a sealed resource is missing or invalid: file added: "
            "Contents/Resources/late.txt"},
        {"nested code by an unknown key", [&] { nestedSignedBy(unknown); },
         "nested code is invalid: Contents/Helpers/Inner.app: the signing key is not trusted"},
        {"nested code by an unknown key, not deep", [&] { nestedSignedBy(unknown); }, "", {"--strict"}},
        // --trusted-key trusts that key for one run, and trust is all it changes.
        {"unknown key trusted for the run", [&] { signWithTeam(app, unknown); }, "", {"--trusted-key", unknownKey}},
        {"unknown key, another trusted", [&] { signWithTeam(app, unknown); }, "not trusted for team TEAMC3", {"--trusted-key", teamKey}},
        {"unknown key trusted, file changed", [&] {
             signWithTeam(app, unknown);
             writeFile(readme, "evil\n");
         }, "file modified: Contents/Resources/readme.txt", {"--trusted-key", unknownKey}},
    };
    std::string trustStore = listTree(platform::paths::trustStoreDirectory);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(buildBundle(folder_.path(), "Tampered"), app);
        replaceWithLink(resources + "link", "readme.txt");
        signWithTeam(app, *team_);
        ASSERT_EQ(verify(app), "");
        c.tamper();
        std::string diagnostic = verify(app, c.flags);
        EXPECT_EQ(diagnostic.empty(), c.diagnostic.empty()) << diagnostic;
        EXPECT_NE(diagnostic.find(c.diagnostic), std::string::npos) << diagnostic;
        platform::removeRecursively(app);
        platform::removeRecursively(app + ".resources");
    }
    // Trusted for a run alone: the unknown key is again not trusted, the store unchanged.
    signWithTeam(buildBundle(folder_.path(), "Tampered"), unknown);
    EXPECT_NE(verify(app).find("not trusted for team TEAMC3"), std::string::npos);
    EXPECT_EQ(listTree(platform::paths::trustStoreDirectory), trustStore);
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

// Signing refuses what verifying would: a team name that could reach outside the trust
// store, and nested code that is not signed. A staged tree may nest folders tens of
// thousands deep: the scan refuses it, signing or verifying, instead of running out of
// stack.
TEST_F(Codesign, RefusesAClimbingTeamUnsignedNestedCodeAndFoldersNestedTensOfThousandsDeep) {
    TmpfsMount memory(folder_ / "deep", "mode=0755");  // a disk takes a minute for these folders
    ASSERT_TRUE(memory.mounted());
    std::string deep = buildBundle(folder_ / "deep", "Deep");
    signWithTeam(deep, *team_);
    std::string top = deep + "/Contents/Resources/d";
    ASSERT_EQ(::mkdir(top.c_str(), 0755), 0);
    int folder = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 20000 && folder >= 0; ++level) {
        int child = ::mkdirat(folder, "d", 0755) == 0 ? ::openat(folder, "d", O_RDONLY | O_DIRECTORY) : -1;
        ::close(folder);
        folder = child;
    }
    ASSERT_GE(folder, 0);
    ::close(folder);
    std::string app = buildBundle(folder_.path(), "Refused");
    buildBundle(app + "/Contents/Helpers", "Inner");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--sign", team_->privateKeyFile, "--team", "../x", app}, "invalid team identifier"},
        {{"--sign", team_->privateKeyFile, "--team", "TEAMA1", app}, "nested code is not signed: Contents/Helpers/Inner.app"},
        {{"--sign", "-", deep}, "folders nested more than 512 deep"},
        {{"--verify", "--deep", "--strict", deep}, "folders nested more than 512 deep"},
    };
    for (const auto& [arguments, diagnostic] : cases) {
        auto refused = codesign(arguments);
        EXPECT_EQ(refused.status, 1) << diagnostic;
        EXPECT_NE(refused.output.find(diagnostic), std::string::npos) << refused.output;
    }
    EXPECT_EQ(platform::runCapturingOutput("/bin/rm", {"-rf", top}).status, 0);  // rm needs no descriptor per level
}
