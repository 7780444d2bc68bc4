// codesign --verify --deep --strict against the hashing floor (sha256sum of every file)
// on one 5,000-file, 200 MiB bundle.

#include "Support/BundleCorpus.hpp"
#include "Support/Comparison.hpp"

#include "Platform/ToolPaths.hpp"

namespace {

const bool verifyGoal =
    bench::registerGoal({"codesign verify vs sha256sum", 0.5, "at least 2x faster"});

void verifyOurs(benchmark::State& state) {
    const auto& corpus = bench::largeBundle();
    for (auto _ : state) {
        bench::runOrSkip(state, platform::paths::codesign, {"--verify", "--deep", "--strict", "--verbose=2", corpus.bundle});
    }
}

void verifyPeer(benchmark::State& state) {
    const auto& corpus = bench::largeBundle();
    for (auto _ : state) {
        bench::runOrSkip(state, "/usr/bin/find", {corpus.bundle, "-type", "f", "-exec", "sha256sum", "{}", "+"});
    }
}

}  // namespace

BENCHMARK(verifyOurs)->Name("codesign verify vs sha256sum/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(verifyPeer)->Name("codesign verify vs sha256sum/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
