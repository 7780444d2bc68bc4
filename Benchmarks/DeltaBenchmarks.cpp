// Delta size against the whole archive for a release that changes one file of 500 and
// for one that rebuilds a 50 MiB executable from a small source change; applying a
// delta to a 100 MiB bundle against unpacking the whole archive.

#include "Support/BundleCorpus.hpp"
#include "Support/Comparison.hpp"

#include "DeltaApplier.hpp"

#include "BundleBuilder.hpp"
#include "Files.hpp"

#include "Platform/Crypto.hpp"
#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <random>
#include <sys/stat.h>

namespace {

const bool oneFileGoal = bench::registerGoal(
    bench::CounterGoal{"delta, 1 of 500 files changed", "delta_percent_of_zip", false, 2, "at most 2% of the zip"});
const bool executableGoal = bench::registerGoal(bench::CounterGoal{"delta, 50 MiB executable rebuilt", "delta_percent_of_zip",
                                                                   false, 10, "at most 10% of the zip"});
const bool applyGoal = bench::registerGoal({"delta apply vs ditto -x -k", 1.0, "at least 1.0x its speed"});

const std::string manifestTool = std::string(AUTOUPDATEKIT_BUILD_BIN_DIR) + "/autoupdate-manifest";

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

// Times writing the delta from oldApp to newApp and reports its size against a zip of
// the new bundle.
void reportDeltaSize(benchmark::State& state, const std::string& folder, const std::string& oldApp, const std::string& newApp) {
    bench::runOrSkip(state, "/bin/sh", {"-c", "cd \"$0\" && zip -qrX new.zip Sample.app", folder + "/new"});
    std::string delta = folder + "/Sample.delta";
    bench::timeEachRun(state, [&] { ::unlink(delta.c_str()); }, [&] {
        bench::runOrSkip(state, manifestTool, {"delta", "--from", oldApp, "--to", newApp, "--output", delta});
    });
    struct stat written {}, zip {};
    if (::stat(delta.c_str(), &written) == 0 && ::stat((folder + "/new/new.zip").c_str(), &zip) == 0) {
        state.counters["delta_percent_of_zip"] = 100.0 * static_cast<double>(written.st_size) / static_cast<double>(zip.st_size);
    }
}

void oneOfFiveHundred(benchmark::State& state) {
    testsupport::TemporaryDirectory folder;
    testsupport::SampleBundle sample;
    sample.extraInfo["CFBundleShortVersionString"] = std::string("1.0");
    sample.extraInfo["CFBundleVersion"] = std::string("10");
    std::string oldApp = testsupport::buildBundle(folder / "old", "Sample", sample);
    std::string newApp = testsupport::buildBundle(folder / "new", "Sample", sample);
    std::mt19937 random(7);
    for (int index = 0; index < 500; ++index) {
        std::string name = "/Contents/Resources/file-" + std::to_string(index) + ".txt";
        std::string text = textFile(random, 4096 + random() % 40960);
        testsupport::writeFile(oldApp + name, text);
        if (index == 250) text.replace(text.size() / 2, 40, "a changed sentence in the middle of it");
        testsupport::writeFile(newApp + name, text);
    }
    reportDeltaSize(state, folder.path(), oldApp, newApp);
}

// Generated C, compiled without optimisation and with debug information as a
// developer's build would be: 22 units of 5,000 distinct small functions, about 52 MiB.
std::string generatedUnit(int unit, bool changed) {
    std::string source = "#include <string.h>\n";
    for (int index = unit * 5000; index < (unit + 1) * 5000; ++index) {
        std::string i = std::to_string(index);
        auto mod = [&](int divisor, int offset) { return std::to_string(index % divisor + offset); };
        source += "int f" + i + "(int x, const char* s) {\n    int y = x * " + std::to_string(index * 7 + 3) +
                  " + (int)strlen(s);\n    if ((y & " + mod(13, 1) + ") == " + mod(5, 0) + ") y ^= x >> " + mod(7, 1) +
                  ";\n    for (int k = 0; k < (x & " + mod(15, 1) + "); ++k) y += k * " + mod(97, 31) + " - (s[k & 3] ^ " +
                  mod(251, 0) + ");\n    switch (y & 3) { case 0: y += " + i + "; break; case 1: y -= " + std::to_string(index * 3) +
                  "; break; default: y *= " + mod(17, 2) + "; }\n";
        // The small change: one more statement in one function in the middle.
        if (changed && index == 45000) source += "    if (x == 42) y += 1;\n";
        source += "    return y;\n}\n";
    }
    return source;
}

void rebuiltExecutable(benchmark::State& state) {
    constexpr int units = 22;
    testsupport::TemporaryDirectory folder;
    std::string objects;
    for (int unit = 0; unit < units; ++unit) {
        testsupport::writeFile(folder / ("u" + std::to_string(unit) + ".c"), generatedUnit(unit, false));
        objects += " u" + std::to_string(unit) + ".o";
    }
    testsupport::writeFile(folder / "main.c", "int f0(int, const char*);\nint main(void) { return f0(1, \"abcd\") & 1; }\n");
    testsupport::writeFile(folder / "Makefile", "CFLAGS = -O0 -g\nprogram: main.o" + objects + "\n\t$(CC) -o $@ $^\n");
    std::string make = "make -s -j\"$(nproc)\" -C \"$0\" program && mkdir -p \"$1/Sample.app/Contents/MacOS\" && "
                       "cp \"$0/program\" \"$1/Sample.app/Contents/MacOS/Program\"";
    testsupport::SampleBundle sample;
    std::string oldApp = testsupport::buildBundle(folder / "old", "Sample", sample);
    std::string newApp = testsupport::buildBundle(folder / "new", "Sample", sample);
    bench::runOrSkip(state, "/bin/sh", {"-c", make, folder.path(), folder / "old"});
    testsupport::writeFile(folder / "u9.c", generatedUnit(9, true));
    bench::runOrSkip(state, "/bin/sh", {"-c", make, folder.path(), folder / "new"});
    struct stat program {};
    if (::stat((newApp + "/Contents/MacOS/Program").c_str(), &program) == 0) {
        state.counters["executable_MiB"] = static_cast<double>(program.st_size) / (1024.0 * 1024.0);
    }
    reportDeltaSize(state, folder.path(), oldApp, newApp);
}

// A 100 MiB bundle of 1,000 files and its next release, which changes ten of them; the
// new release as a zip and as a delta, made once.
struct ApplyCorpus {
    std::string folder, oldApp, newApp, archive, deltaFile;
    autoupdatekit::DeltaUpdate delta;
};

const ApplyCorpus& applyCorpus() {
    static const ApplyCorpus corpus = [] {
        ApplyCorpus made;
        made.folder = bench::largeBundle().folder + "/apply";
        std::mt19937 random(11);
        testsupport::SampleBundle sample;
        made.oldApp = testsupport::buildBundle(made.folder + "/old", "Sample", sample);
        made.newApp = testsupport::buildBundle(made.folder + "/new", "Sample", sample);
        for (int index = 0; index < 1000; ++index) {
            std::string name = "/Contents/Resources/group" + std::to_string(index % 20) + "/file-" + std::to_string(index);
            std::string text = textFile(random, 52429 + random() % 104858);
            testsupport::writeFile(made.oldApp + name, text);
            if (index % 100 == 0) text.replace(text.size() / 2, 7, "changed");
            testsupport::writeFile(made.newApp + name, text);
        }
        made.archive = made.folder + "/new.zip";
        made.deltaFile = made.folder + "/Sample.delta";
        auto run = [](const std::string& tool, const std::vector<std::string>& arguments) {
            auto result = platform::runCapturingOutput(tool, arguments);
            if (result.status != 0) throw std::runtime_error(tool + " failed: " + result.bytes);
        };
        run(platform::paths::ditto(), {"-c", "-k", "--keepParent", made.newApp, made.archive});
        run(manifestTool, {"delta", "--from", made.oldApp, "--to", made.newApp, "--output", made.deltaFile});
        auto hex = [](const platform::Sha256Digest& digest) { return platform::hexLowercase(digest.data(), digest.size()); };
        auto tree = [&](const std::string& app) {
            return hex(autoupdatekit::BundleTree::digest(autoupdatekit::BundleTree::scan(app)));
        };
        std::string bytes = testsupport::readFile(made.deltaFile);
        made.delta = {"1.0", "1", "https://updates.example.com/Sample.delta", static_cast<std::int64_t>(bytes.size()),
                      hex(platform::sha256(bytes)), tree(made.oldApp), tree(made.newApp)};
        return made;
    }();
    return corpus;
}

template <typename Operation>
void timeIntoEmptyFolder(benchmark::State& state, Operation operation) {
    const ApplyCorpus& corpus = applyCorpus();
    std::string target = corpus.folder + "/target";
    bench::timeEachRun(
        state,
        [&] {
            platform::removeRecursively(target);
            platform::createDirectories(target + "/Sample.app");  // the applier builds into an empty folder
        },
        [&] { operation(corpus, target); });
    platform::removeRecursively(target);
}

void applyOurs(benchmark::State& state) {
    timeIntoEmptyFolder(state, [](const ApplyCorpus& corpus, const std::string& target) {
        autoupdatekit::DeltaApplier::apply(corpus.delta, corpus.deltaFile, corpus.oldApp, target + "/Sample.app");
    });
}

void applyPeer(benchmark::State& state) {
    timeIntoEmptyFolder(state, [&](const ApplyCorpus& corpus, const std::string& target) {
        bench::runOrSkip(state, platform::paths::ditto(), {"-x", "-k", corpus.archive, target});
    });
}

}  // namespace

BENCHMARK(oneOfFiveHundred)->Name("delta, 1 of 500 files changed")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
// Once: the size does not vary, and building the program takes minutes.
BENCHMARK(rebuiltExecutable)->Name("delta, 50 MiB executable rebuilt")->Iterations(1)->Repetitions(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(applyOurs)->Name("delta apply vs ditto -x -k/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(applyPeer)->Name("delta apply vs ditto -x -k/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
