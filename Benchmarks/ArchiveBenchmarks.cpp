// The check's archive steps on one 1 GiB archive (the zip of a team-signed app)
// served from 127.0.0.1: the download against `curl -o`, hexDigest against
// `openssl dgst -sha256` and `sha256sum` (and its own peak memory), the whole
// checkForUpdate against the peer tools doing its work one after another, and the
// peak memory of a whole check run as its own process (autoupdatectl check).

#include "Support/Comparison.hpp"
#include "Support/PrivateSystem.hpp"

#include "BundleBuilder.hpp"
#include "FileHash.hpp"
#include "LocalHTTPServer.hpp"
#include "ReleaseBuilder.hpp"

#include "AutoUpdateKit/AutoUpdateManager.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/HTTPSession.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <unistd.h>

namespace {

constexpr int payloadFiles = 64;
constexpr std::size_t payloadFileSize = 16u * 1024 * 1024;  // 64 x 16 MiB of random bytes: a 1 GiB zip

const bool goals[] = {
    bench::registerGoal({"archive download vs curl -o", 1.11, "at least 0.9x its throughput"}),
    bench::registerGoal({"hexDigest vs openssl dgst", 1.11, "at least 0.9x its speed"}),
    bench::registerGoal({"hexDigest vs sha256sum", 0.334, "at least 3x its speed"}),
    bench::registerGoal(bench::CounterGoal{"hexDigest memory", "peak_growth_MiB", false, 32, "below 32 MiB"}),
    bench::registerGoal({"checkForUpdate vs curl+openssl+unzip+2 codesign", 1.1, "at most 1.1x"}),
    bench::registerGoal(bench::CounterGoal{"checkForUpdate memory", "peak_resident_MiB", false, 64, "below 64 MiB"}),
};

// A published release of "Sample" 2.0 and an installed 1.0 whose check finds it.
struct ServedRelease {
    std::string error;  // why the release could not be made (the trust store needs root)
    std::string folder;
    std::string archive;
    std::string archiveURL;
    std::string installed;
    std::string publicKey;
    testsupport::LocalHTTPServer server;
};

void writeRandomPayload(const std::string& app) {
    std::string folder = app + "/Contents/Resources/Payload";
    platform::createDirectories(folder);
    std::mt19937_64 random(512);
    std::string bytes(payloadFileSize, '\0');
    for (int index = 0; index < payloadFiles; ++index) {
        for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
            std::uint64_t value = random();
            std::memcpy(bytes.data() + at, &value, 8);
        }
        platform::writeFileAtomically(folder + "/part" + std::to_string(index), bytes);
    }
}

void publish(ServedRelease& served) {
    std::string pattern = "/tmp/autoupdatekit-archive-bench-XXXXXX";
    served.folder = ::mkdtemp(pattern.data());
    ::setenv("HOME", (served.folder + "/home").c_str(), 1);  // the check reads the app's user defaults

    auto team = testsupport::makeTeamKey(served.folder, "BENCH1");
    testsupport::trustKeyForTeam(team.key, "BENCH1");
    served.archiveURL = served.server.url("/Sample.zip");
    testsupport::ReleaseOptions options;
    options.prepare = writeRandomPayload;
    auto release = testsupport::makeRelease(served.folder + "/release", team, served.archiveURL, options);
    platform::removeRecursively(release.app);
    served.archive = release.archive;

    auto publisher = platform::Ed25519PrivateKey::generate();
    served.publicKey = platform::base64Encode(publisher.publicKey().raw());
    served.server.route("/Sample.zip", {200, platform::readWholeFile(release.archive)});
    served.server.route("/manifest.json", {200, release.manifestDocument(platform::base64Encode(publisher.seed()))});

    testsupport::SampleBundle installed;
    installed.extraInfo["CFBundleShortVersionString"] = "1.0";
    installed.extraInfo["CFBundleVersion"] = "1";
    // For autoupdatectl, which reads the configuration as the app would.
    installed.extraInfo["AutoUpdateManifestURL"] = served.server.url("/manifest.json");
    installed.extraInfo["AutoUpdateManifestPublicKey"] = served.publicKey;
    served.installed = testsupport::buildBundle(served.folder + "/installed", "Sample", installed);
}

ServedRelease& servedRelease() {
    static ServedRelease* served = [] {
        auto* made = new ServedRelease;
        made->error = bench::enterPrivateSystem();
        if (made->error.empty()) {
            publish(*made);
            std::atexit([] { platform::removeRecursively(servedRelease().folder); });
        }
        return made;
    }();
    return *served;
}

// The release, or nothing after failing the benchmark.
ServedRelease* releaseOrSkip(benchmark::State& state) {
    auto& served = servedRelease();
    if (!served.error.empty()) {
        state.SkipWithError(served.error.c_str());
        return nullptr;
    }
    return &served;
}

// Each download writes a new file, as the check's does, with the disk's dirty pages
// written back before it: cutting the last run's gigabyte instead would time ext4
// writing it out on close, which is the file system's work, not the download's.
void downloadOurs(benchmark::State& state) {
    auto* served = releaseOrSkip(state);
    if (!served) return;
    std::string target = served->folder + "/ours.zip";
    bench::timeEachRun(
        state, [&] { platform::removeRecursively(target); },
        [&] {
            platform::FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            auto response = platform::HTTPSession::shared()->download({*platform::WebURL::parse(served->archiveURL)}, fd.get(), {});
            if (response.statusCode != 200) state.SkipWithError(("download failed with status " + std::to_string(response.statusCode)).c_str());
        });
}

void downloadPeer(benchmark::State& state) {
    auto* served = releaseOrSkip(state);
    if (!served) return;
    std::string target = served->folder + "/peer.zip";
    bench::timeEachRun(
        state, [&] { platform::removeRecursively(target); },
        [&] { bench::runOrSkip(state, "/usr/bin/curl", {"-s", "-o", target, served->archiveURL}); });
}

void hashOurs(benchmark::State& state) {
    auto* served = releaseOrSkip(state);
    if (!served) return;
    bench::timeEachIteration(state, [&] { benchmark::DoNotOptimize(autoupdatekit::FileHash::hexDigest(platform::FileURL(served->archive))); });
}

void hashOpenSSL(benchmark::State& state) {
    auto* served = releaseOrSkip(state);
    if (!served) return;
    bench::timeEachIteration(state, [&] { bench::runOrSkip(state, "/usr/bin/openssl", {"dgst", "-sha256", served->archive}); });
}

void hashSha256sum(benchmark::State& state) {
    auto* served = releaseOrSkip(state);
    if (!served) return;
    bench::timeEachIteration(state, [&] { bench::runOrSkip(state, "/usr/bin/sha256sum", {served->archive}); });
}

long statusFieldKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
}

// The hash's own memory: how far the peak resident size rises above the resident size
// at the start of the call, with the peak reset just before it.
void hashMemory(benchmark::State& state) {
    auto* served = releaseOrSkip(state);
    if (!served) return;
    bench::timeEachIteration(state, [&] {
        std::ofstream("/proc/self/clear_refs") << "5";
        long before = statusFieldKiB("VmRSS:");
        benchmark::DoNotOptimize(autoupdatekit::FileHash::hexDigest(platform::FileURL(served->archive)));
        long peak = statusFieldKiB("VmHWM:");
        if (before < 0 || peak < 0) return state.SkipWithError("no memory figures in /proc/self/status");
        state.counters["peak_growth_MiB"] = static_cast<double>(peak - before) / 1024;
    });
}

void checkOurs(benchmark::State& state) {
    auto* served = releaseOrSkip(state);
    if (!served) return;
    std::string staging = served->folder + "/staging";
    autoupdatekit::AutoUpdateManager manager(autoupdatekit::AutoUpdateConfiguration(
        *autoupdatekit::URL::parse(served->server.url("/manifest.json")), served->publicKey, served->installed, staging, "svc"));
    bench::timeEachRun(
        state, [&] { platform::removeRecursively(staging); },  // each check starts as the first one does
        [&] {
            auto result = manager.checkForUpdate();
            if (!std::holds_alternative<autoupdatekit::AutoUpdateCheckResult::UpdateReady>(result.value)) {
                state.SkipWithError(("the check found no update: " + result.logDescription()).c_str());
            }
        });
    platform::removeRecursively(staging);
}

// The same work by the peer tools; the app's signature is verified twice, as the check
// does (in process, then with the codesign tool).
void checkPeer(benchmark::State& state) {
    auto* served = releaseOrSkip(state);
    if (!served) return;
    std::string archive = served->folder + "/peer.zip";
    std::string extracted = served->folder + "/peer-extracted";
    bench::timeEachRun(
        state,
        [&] {
            platform::removeRecursively(archive);
            platform::removeRecursively(extracted);
        },
        [&] {
            bench::runOrSkip(state, "/usr/bin/curl", {"-s", "-o", archive, served->archiveURL});
            bench::runOrSkip(state, "/usr/bin/openssl", {"dgst", "-sha256", archive});
            bench::runOrSkip(state, "/usr/bin/unzip", {"-q", archive, "-d", extracted});
            for (int run = 0; run < 2; ++run) {
                bench::runOrSkip(state, platform::paths::codesign(), {"--verify", "--deep", "--strict", "--verbose=2", extracted + "/Sample.app"});
            }
        });
    platform::removeRecursively(extracted);
}

// The largest peak resident size of the processes of one whole check: autoupdatectl
// and the tools it runs, as GNU time reads it from wait4. Measured through time, not
// by a child of this process: a child's figure would start at this process's own
// size, the served archive included.
void checkMemory(benchmark::State& state) {
    auto* served = releaseOrSkip(state);
    if (!served) return;
    std::string figure = served->folder + "/check-memory";
    bench::timeEachIteration(state, [&] {
        platform::removeRecursively(served->folder + "/home/.cache");  // each check starts as the first one does
        auto result = platform::runCapturingOutput(
            "/usr/bin/time", {"-f", "%M", "-o", figure, std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdatectl", "check", served->installed});
        if (result.status != 3) {  // 3: an update is ready
            return state.SkipWithError(("autoupdatectl check found no update ready: " + result.bytes.substr(0, 200)).c_str());
        }
        // The figure is the last line; a line on the nonzero exit status comes before it.
        std::string report = platform::readWholeFile(figure);
        while (!report.empty() && report.back() == '\n') report.pop_back();
        double kibibytes = std::strtod(report.c_str() + report.rfind('\n') + 1, nullptr);  // npos + 1 is 0
        if (kibibytes <= 0) {
            return state.SkipWithError(("no peak resident size from time: " + report).c_str());
        }
        state.counters["peak_resident_MiB"] = kibibytes / 1024;
    });
}

}  // namespace

BENCHMARK(downloadOurs)->Name("archive download vs curl -o/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(downloadPeer)->Name("archive download vs curl -o/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashOurs)->Name("hexDigest vs openssl dgst/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashOpenSSL)->Name("hexDigest vs openssl dgst/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashOurs)->Name("hexDigest vs sha256sum/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashSha256sum)->Name("hexDigest vs sha256sum/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashMemory)->Name("hexDigest memory")->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(checkOurs)->Name("checkForUpdate vs curl+openssl+unzip+2 codesign/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(checkPeer)->Name("checkForUpdate vs curl+openssl+unzip+2 codesign/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(checkMemory)->Name("checkForUpdate memory")->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);
