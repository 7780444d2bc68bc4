// ditto against cp -a (copy) and unzip -q (extraction) on one 5,000-file, 200 MiB bundle.

#include "Support/BundleCorpus.hpp"
#include "Support/Comparison.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/ToolPaths.hpp"

#include <sys/stat.h>

namespace {

const bool copyGoal = bench::registerGoal({"ditto copy vs cp -a", 1.11, "at least 0.9x its speed"});
const bool unzipGoal = bench::registerGoal({"ditto -x -k vs unzip -q", 1.0, "at least 1.0x its speed"});

template <typename Command>
void timeIntoFreshTarget(benchmark::State& state, bool makeTarget, Command command) {
    const auto& corpus = bench::largeBundle();
    std::string target = corpus.folder + "/target";
    bench::timeEachRun(
        state,
        [&] {
            platform::removeRecursively(target);
            if (makeTarget) ::mkdir(target.c_str(), 0755);
        },
        [&] { command(state, corpus, target); });
    platform::removeRecursively(target);
}

void copyOurs(benchmark::State& state) {
    timeIntoFreshTarget(state, false, [](auto& s, const auto& corpus, const std::string& target) {
        bench::runOrSkip(s, platform::paths::ditto(), {corpus.bundle, target});
    });
}

void copyPeer(benchmark::State& state) {
    timeIntoFreshTarget(state, false, [](auto& s, const auto& corpus, const std::string& target) {
        bench::runOrSkip(s, "/bin/cp", {"-a", corpus.bundle, target});
    });
}

void unzipOurs(benchmark::State& state) {
    timeIntoFreshTarget(state, true, [](auto& s, const auto& corpus, const std::string& target) {
        bench::runOrSkip(s, platform::paths::ditto(), {"-x", "-k", corpus.archive, target});
    });
}

void unzipPeer(benchmark::State& state) {
    timeIntoFreshTarget(state, true, [](auto& s, const auto& corpus, const std::string& target) {
        bench::runOrSkip(s, "/usr/bin/unzip", {"-q", corpus.archive, "-d", target});
    });
}

}  // namespace

BENCHMARK(copyOurs)->Name("ditto copy vs cp -a/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(copyPeer)->Name("ditto copy vs cp -a/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(unzipOurs)->Name("ditto -x -k vs unzip -q/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(unzipPeer)->Name("ditto -x -k vs unzip -q/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
