// Delta size against the whole archive for a release that changes one file of 500.

#include "Support/Comparison.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"
#include "TemporaryDirectory.hpp"

#include <random>
#include <sys/stat.h>

namespace {

const bool oneFileGoal = bench::registerGoal(
    bench::CounterGoal{"delta, 1 of 500 files changed", "delta_percent_of_zip", false, 2, "at most 2% of the zip"});

// Text of words in varying order, compressible like resources and scripts are.
std::string textFile(std::mt19937& random, std::size_t size) {
    static const char* words[] = {"update", "bundle", "window", "session", "archive", "signature", "folder",
                                  "version", "install", "release", "network", "helper", "return", "value"};
    std::string text;
    while (text.size() < size) {
        text += words[random() % std::size(words)];
        text += random() % 9 == 0 ? "\n" : " ";
    }
    return text;
}

void oneOfFiveHundred(benchmark::State& state) {
    testsupport::TemporaryDirectory folder;
    testsupport::SampleBundle sample;
    sample.extraInfo["CFBundleShortVersionString"] = std::string("1.0");
    sample.extraInfo["CFBundleVersion"] = std::string("10");
    std::string oldApp = testsupport::buildBundle(folder / "old", "Sample", sample);
    std::string newApp = testsupport::buildBundle(folder / "new", "Sample", sample);
    std::mt19937 random(7);
    std::string changed;
    for (int index = 0; index < 500; ++index) {
        std::string name = "/Contents/Resources/file-" + std::to_string(index) + ".txt";
        std::string text = textFile(random, 4096 + random() % 40960);
        testsupport::writeFile(oldApp + name, text);
        if (index == 250) text.replace(text.size() / 2, 40, "a changed sentence in the middle of it");
        testsupport::writeFile(newApp + name, text);
    }
    std::string tool = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdate-manifest";
    bench::runOrSkip(state, "/bin/sh", {"-c", "cd \"$0\" && zip -qrX new.zip Sample.app", folder / "new"});
    bench::timeEachRun(state, [&] { ::unlink((folder / "Sample.delta").c_str()); }, [&] {
        bench::runOrSkip(state, tool, {"delta", "--from", oldApp, "--to", newApp, "--output", folder / "Sample.delta"});
    });
    struct stat delta {}, zip {};
    if (::stat((folder / "Sample.delta").c_str(), &delta) == 0 && ::stat((folder / "new/new.zip").c_str(), &zip) == 0) {
        state.counters["delta_percent_of_zip"] = 100.0 * static_cast<double>(delta.st_size) / static_cast<double>(zip.st_size);
    }
}

}  // namespace

BENCHMARK(oneOfFiveHundred)->Name("delta, 1 of 500 files changed")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
