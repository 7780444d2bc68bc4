// codesign --verify --deep --strict on one 5,000-file, 200 MiB bundle, against
// sha256sum of every file, against `openssl dgst` of every file on every core (reading
// and hashing only, nothing compared), and against the hashing floor: SHA-256 of the
// bundle's bytes spread over every core at the rate `openssl speed` measures in the
// same run.

#include "Support/BundleCorpus.hpp"
#include "Support/Comparison.hpp"

#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>

namespace {

const bool goals[] = {
    bench::registerGoal({"codesign verify vs sha256sum", 0.5, "at least 2x faster"}),
    bench::registerGoal({"codesign verify vs openssl dgst", 1.1, "at most 1.1x"}),
    bench::registerGoal({"codesign verify vs hash floor", 1.5, "at most 1.5x"}),
};

unsigned cores() { return std::max(1u, std::thread::hardware_concurrency()); }

void verifyOurs(benchmark::State& state) {
    const auto& corpus = bench::largeBundle();
    bench::timeEachIteration(
        state, [&] { bench::runOrSkip(state, platform::paths::codesign(), {"--verify", "--deep", "--strict", "--verbose=2", corpus.bundle}); });
}

void verifyPeer(benchmark::State& state) {
    const auto& corpus = bench::largeBundle();
    bench::timeEachIteration(state, [&] { bench::runOrSkip(state, "/usr/bin/find", {corpus.bundle, "-type", "f", "-exec", "sha256sum", "{}", "+"}); });
}

struct Files {
    std::uintmax_t count = 0;
    std::uintmax_t bytes = 0;
};

Files filesOf(const std::string& folder) {
    Files files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.is_symlink()) continue;
        ++files.count;
        files.bytes += entry.file_size();
    }
    return files;
}

// The files split evenly over one openssl process per core.
void hashWithOpenssl(benchmark::State& state) {
    const auto& corpus = bench::largeBundle();
    std::string perProcess = std::to_string(filesOf(corpus.bundle).count / cores() + 1);
    bench::timeEachIteration(state, [&] {
        bench::runOrSkip(state, "/bin/sh",
                         {"-c", "find \"$0\" -type f -print0 | xargs -0 -P \"$1\" -n \"$2\" openssl dgst -sha256 -r >/dev/null",
                          corpus.bundle, std::to_string(cores()), perProcess});
    });
}

// One core's SHA-256 rate in bytes a second on 1 MiB blocks; 0 when it cannot be read.
double opensslRate() {
    auto result = platform::runCapturingOutput("/usr/bin/openssl", {"speed", "-mr", "-seconds", "1", "-bytes", "1048576", "sha256"});
    std::size_t line = result.bytes.find("+F:");
    std::size_t colon = result.bytes.rfind(':', result.bytes.find('\n', line));
    if (result.status != 0 || line == std::string::npos || colon == std::string::npos) return 0;
    return std::strtod(result.bytes.c_str() + colon + 1, nullptr);
}

// Not a timed run: each iteration's time is the floor worked out from a fresh rate.
void hashFloor(benchmark::State& state) {
    const auto& corpus = bench::largeBundle();
    double bytes = static_cast<double>(filesOf(corpus.bundle).bytes);
    bench::timeEachIteration(state, [&] {
        double rate = opensslRate();
        if (rate <= 0) return state.SkipWithError("openssl speed gave no SHA-256 rate");
        state.SetIterationTime(bytes / (rate * cores()));
        state.counters["sha256_MB_per_s"] = rate / 1e6;
    });
}

}  // namespace

BENCHMARK(verifyOurs)->Name("codesign verify vs sha256sum/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(verifyPeer)->Name("codesign verify vs sha256sum/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(verifyOurs)->Name("codesign verify vs openssl dgst/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashWithOpenssl)->Name("codesign verify vs openssl dgst/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(verifyOurs)->Name("codesign verify vs hash floor/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashFloor)->Name("codesign verify vs hash floor/peer")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
