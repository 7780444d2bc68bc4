// The check's archive steps on one 512 MiB archive served from 127.0.0.1: the download
// against `curl -o`, and hexDigest against `openssl dgst -sha256` and `sha256sum`.

#include "Support/Comparison.hpp"

#include "FileHash.hpp"
#include "LocalHTTPServer.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/HTTPSession.hpp"

#include <fcntl.h>
#include <cstring>
#include <random>
#include <unistd.h>

namespace {

constexpr std::size_t archiveSize = 512u * 1024 * 1024;

const bool goals[] = {
    bench::registerGoal({"archive download vs curl -o", 1.11, "at least 0.9x its throughput"}),
    bench::registerGoal({"hexDigest vs openssl dgst", 1.11, "at least 0.9x its speed"}),
    bench::registerGoal({"hexDigest vs sha256sum", 0.334, "at least 3x its speed"}),
};

struct ServedArchive {
    std::string folder;
    std::string file;
    testsupport::LocalHTTPServer server;
};

ServedArchive& servedArchive() {
    static ServedArchive* served = [] {
        auto* made = new ServedArchive;
        std::string pattern = "/tmp/autoupdatekit-archive-bench-XXXXXX";
        made->folder = ::mkdtemp(pattern.data());
        made->file = made->folder + "/archive.zip";
        std::string bytes(archiveSize, '\0');
        std::mt19937_64 random(512);
        for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
            std::uint64_t value = random();
            std::memcpy(bytes.data() + at, &value, 8);
        }
        platform::writeFileAtomically(made->file, bytes);
        made->server.route("/archive.zip", {200, std::move(bytes)});
        std::atexit([] { platform::removeRecursively(servedArchive().folder); });
        return made;
    }();
    return *served;
}

void downloadOurs(benchmark::State& state) {
    auto& served = servedArchive();
    std::string target = served.folder + "/ours.zip";
    for (auto _ : state) {
        platform::FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        auto url = *platform::WebURL::parse(served.server.url("/archive.zip"));
        auto response = platform::HTTPSession::shared()->download({url}, fd.get(), {});
        if (response.statusCode != 200) state.SkipWithError("download failed");
    }
}

void downloadPeer(benchmark::State& state) {
    auto& served = servedArchive();
    for (auto _ : state) {
        bench::runOrSkip(state, "/usr/bin/curl", {"-s", "-o", served.folder + "/peer.zip", served.server.url("/archive.zip")});
    }
}

void hashOurs(benchmark::State& state) {
    auto& served = servedArchive();
    for (auto _ : state) benchmark::DoNotOptimize(autoupdatekit::FileHash::hexDigest(platform::FileURL(served.file)));
}

void hashOpenSSL(benchmark::State& state) {
    auto& served = servedArchive();
    for (auto _ : state) bench::runOrSkip(state, "/usr/bin/openssl", {"dgst", "-sha256", served.file});
}

void hashSha256sum(benchmark::State& state) {
    auto& served = servedArchive();
    for (auto _ : state) bench::runOrSkip(state, "/usr/bin/sha256sum", {served.file});
}

}  // namespace

BENCHMARK(downloadOurs)->Name("archive download vs curl -o/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(downloadPeer)->Name("archive download vs curl -o/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashOurs)->Name("hexDigest vs openssl dgst/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashOpenSSL)->Name("hexDigest vs openssl dgst/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashOurs)->Name("hexDigest vs sha256sum/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashSha256sum)->Name("hexDigest vs sha256sum/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
