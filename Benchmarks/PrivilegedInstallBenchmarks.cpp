// One privileged install of a 5,000-file, 200 MiB bundle, from scheduleInstall to the
// helper's "installed update" line, against the floor of the same work done by the
// peer tools: `cp -a` of the bundle plus the four `codesign --verify --deep --strict`
// runs an install makes (the staged and the installed app at validation, the copy,
// the result).

#include "Support/BundleCorpus.hpp"
#include "Support/Comparison.hpp"
#include "Support/PrivateSystem.hpp"

#include "PrivilegedUpdateInterface.hpp"

#include "Platform/Crypto.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/PropertyList.hpp"
#include "Platform/ToolPaths.hpp"

#include <thread>

namespace {

constexpr const char* team = "Q4T7ZK92MV";
constexpr const char* destination = "/Applications/Zorvane.app";
constexpr const char* helperLog = "/Library/Logs/ZorvanePrivilegedUpdater.log";

const bool goal = bench::registerGoal({"privileged install vs cp+4 codesign", 1.2, "at most 1.2x"});

// The corpus as the deployed helper's app, signed by its team, at <folder>/Zorvane.app.
std::string signedZorvane(benchmark::State& state, const std::string& folder, const std::string& keyFile) {
    const auto& corpus = bench::largeBundle();
    std::string app = folder + "/Zorvane.app";
    platform::removeRecursively(folder);
    platform::createDirectories(folder);
    bench::runOrSkip(state, platform::paths::ditto(), {corpus.bundle, app});
    platform::writeFileAtomically(app + "/Contents/Info.plist",
                                  platform::PropertyList::xml(platform::PropertyDictionary{
                                      {"CFBundleIdentifier", "com.brackwell.Zorvane"}, {"CFBundleExecutable", "Large"}}));
    bench::runOrSkip(state, platform::paths::codesign(), {"--sign", keyFile, "--team", team, app});
    return app;
}

bool waitForLine(const std::string& text) {
    for (int attempt = 0; attempt < 12000; ++attempt) {  // at most 120 s
        try {
            if (platform::readWholeFile(helperLog).find(text) != std::string::npos) return true;
        } catch (const std::exception&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void installOurs(benchmark::State& state) {
    if (const auto& error = bench::startDeployedHelper(); !error.empty()) return state.SkipWithError(error.c_str());
    const auto& corpus = bench::largeBundle();
    auto key = platform::Ed25519PrivateKey::generate();
    std::string keyFile = corpus.folder + "/team.key";
    platform::writeFileAtomically(keyFile, platform::base64Encode(key.seed()) + "\n", 0600);
    platform::createDirectories("/etc/autoupdatekit/trusted-teams");
    platform::writeFileAtomically(std::string("/etc/autoupdatekit/trusted-teams/") + team + ".pub",
                                  platform::base64Encode(key.publicKey().raw()) + "\n");
    platform::createDirectories("/Library/Logs");
    std::string staged = signedZorvane(state, corpus.folder + "/staged", keyFile);
    static int round = 0;  // unique over repetitions: the log keeps every earlier line
    bench::timeEachRun(
        state,
        [&] {
            platform::removeRecursively(destination);
            bench::runOrSkip(state, platform::paths::ditto(), {staged, destination});
        },
        [&] {
            std::string update = "2.0-" + std::to_string(++round);
            platform::ipc::Connection connection("com.brackwell.Zorvane.PrivilegedUpdater", platform::ipc::privilegedOption);
            connection.resume();
            bool accepted = false;
            autoupdatekit::PrivilegedUpdateHelperProxy proxy(connection, [](const std::string&) {});
            proxy.scheduleInstall(
                autoupdatekit::PrivilegedUpdateRequest(destination, staged, "com.brackwell.Zorvane", team, update, 0, false),
                [&](const autoupdatekit::PrivilegedUpdateReply& reply) { accepted = reply.accepted(); });
            connection.invalidate();
            if (!accepted || !waitForLine("installed update " + update + "\n")) state.SkipWithError("the install did not complete");
        });
    platform::removeRecursively(corpus.folder + "/staged");
}

void installFloor(benchmark::State& state) { bench::copyAndVerifyFloor(state, 4); }

}  // namespace

BENCHMARK(installOurs)->Name("privileged install vs cp+4 codesign/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(installFloor)->Name("privileged install vs cp+4 codesign/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
