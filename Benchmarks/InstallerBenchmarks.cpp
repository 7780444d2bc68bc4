// Each in-process installer on the 5,000-file, 200 MiB bundle against the floor of its
// work: `cp -a` of the bundle plus the two verifications it makes of its result (the
// in-process static check and the codesign run), as two
// `codesign --verify --deep --strict` runs.

#include "Support/BundleCorpus.hpp"
#include "Support/Comparison.hpp"

#include "AutoUpdateKit/Installers.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/ToolPaths.hpp"

#include <cstdlib>

namespace {

using autoupdatekit::InstallStrategy;

const bool goals[] = {
    bench::registerGoal({"replaceWholeBundle vs cp+2 codesign", 1.2, "at most 1.2x"}),
    bench::registerGoal({"replaceBundleContents vs cp+2 codesign", 1.2, "at most 1.2x"}),
    bench::registerGoal({"replaceWithoutBackup vs cp+2 codesign", 1.2, "at most 1.2x"}),
    bench::registerGoal({"relocateToUserApplications vs cp+2 codesign", 1.2, "at most 1.2x"}),
};

void install(InstallStrategy strategy, const autoupdatekit::InstallationPlan& plan) {
    switch (strategy) {
    case InstallStrategy::replaceWholeBundle: autoupdatekit::WholeBundleInstaller::install(plan); break;
    case InstallStrategy::replaceBundleContents: autoupdatekit::BundleContentsInstaller::install(plan); break;
    case InstallStrategy::replaceWithoutBackup: autoupdatekit::DirectBundleInstaller::install(plan); break;
    case InstallStrategy::relocateToUserApplications: autoupdatekit::UserApplicationsInstaller::install(plan); break;
    }
}

void installOurs(benchmark::State& state, InstallStrategy strategy) {
    const auto& corpus = bench::largeBundle();
    std::string folder = corpus.folder + "/installed";
    std::string current = folder + "/Large.app";
    ::setenv("HOME", (corpus.folder + "/home").c_str(), 1);
    ::setenv("TMPDIR", corpus.folder.c_str(), 1);
    bench::timeEachRun(
        state,
        [&] {
            platform::removeRecursively(folder);
            platform::removeRecursively(corpus.folder + "/home");
            platform::createDirectories(folder);
            bench::runOrSkip(state, platform::paths::ditto(), {corpus.bundle, current});
        },
        [&] { install(strategy, {platform::FileURL(current), platform::FileURL(corpus.bundle), strategy}); });
    platform::removeRecursively(folder);
}

void installFloor(benchmark::State& state) { bench::copyAndVerifyFloor(state, 2); }

void registerPair(const std::string& name, InstallStrategy strategy) {
    benchmark::RegisterBenchmark((name + " vs cp+2 codesign/ours").c_str(), [strategy](benchmark::State& state) { installOurs(state, strategy); })
        ->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + " vs cp+2 codesign/peer").c_str(), installFloor)
        ->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
}

const bool registered = [] {
    registerPair("replaceWholeBundle", InstallStrategy::replaceWholeBundle);
    registerPair("replaceBundleContents", InstallStrategy::replaceBundleContents);
    registerPair("replaceWithoutBackup", InstallStrategy::replaceWithoutBackup);
    registerPair("relocateToUserApplications", InstallStrategy::relocateToUserApplications);
    return true;
}();

}  // namespace
