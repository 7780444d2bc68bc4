#include "BundleCorpus.hpp"

#include "Comparison.hpp"
#include "PrivateSystem.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/Process.hpp"
#include "Platform/ToolPaths.hpp"

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>

namespace bench {
namespace {

constexpr int fileCount = 5000;
constexpr std::size_t totalBytes = 200u * 1024 * 1024;

// Text-like content: compresses somewhat, like real resources and code.
std::string fileContent(std::mt19937_64& random, std::size_t size) {
    static const char* words[] = {"update", "bundle", "signature", "archive", "manifest", "install", "helper",
                                  "version", "\x01\x7f\x45\x4c\x46", "0123456789"};
    std::string content;
    content.reserve(size + 16);
    while (content.size() < size) {
        std::uint64_t value = random();
        content += words[value % 10];
        content += static_cast<char>(value >> 56);
    }
    content.resize(size);
    return content;
}

BundleCorpus build() {
    BundleCorpus corpus;
    std::string pattern = "/tmp/autoupdatekit-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    corpus.folder = pattern;
    // On a private tmpfs when the benchmark may make one: on this kind of machine the
    // disk's writeback and discards vary by a second from run to run and would swamp
    // the comparison. Ours and the peer write to the same place.
    corpus.onTmpfs = enterPrivateSystem().empty() && ::mount("tmpfs", pattern.c_str(), "tmpfs", 0, "mode=0755") == 0;
    corpus.bundle = corpus.folder + "/Large.app";
    corpus.archive = corpus.folder + "/Large.zip";

    std::mt19937_64 random(20261207);
    std::string resources = corpus.bundle + "/Contents/Resources";
    for (int index = 0; index < fileCount; ++index) {
        std::string folder = resources + "/group" + std::to_string(index % 50);
        if (index < 50) platform::createDirectories(folder);
        // Sizes vary around the mean, as real bundles mix small and large files.
        std::size_t mean = totalBytes / fileCount;
        std::size_t size = mean / 4 + static_cast<std::size_t>(random() % (mean * 3 / 2));
        platform::writeFileAtomically(folder + "/file" + std::to_string(index), fileContent(random, size));
    }
    platform::createDirectories(corpus.bundle + "/Contents/MacOS");
    platform::writeFileAtomically(corpus.bundle + "/Contents/MacOS/Large", "#!/bin/sh\n", 0755);
    platform::writeFileAtomically(corpus.bundle + "/Contents/Info.plist",
                                  "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
                                  "<string>com.example.large</string><key>CFBundleExecutable</key>"
                                  "<string>Large</string></dict></plist>");
    // Ad-hoc sealed, so verification needs no trust store.
    auto sealed = platform::runCapturingOutput(platform::paths::codesign(), {"--sign", "-", corpus.bundle});
    if (sealed.status != 0) throw std::runtime_error("signing failed: " + sealed.bytes);
    auto zipped = platform::runCapturingOutput(platform::paths::ditto(),
                                               {"-c", "-k", "--keepParent", corpus.bundle, corpus.archive});
    if (zipped.status != 0) throw std::runtime_error("zip failed: " + zipped.bytes);
    return corpus;
}

}  // namespace

void copyAndVerifyFloor(benchmark::State& state, int codesignRuns) {
    const auto& corpus = largeBundle();
    std::string target = corpus.folder + "/floor.app";
    timeEachRun(
        state, [&] { platform::removeRecursively(target); },
        [&] {
            runOrSkip(state, "/bin/cp", {"-a", corpus.bundle, target});
            for (int run = 0; run < codesignRuns; ++run) {
                runOrSkip(state, platform::paths::codesign(), {"--verify", "--deep", "--strict", "--verbose=2", target});
            }
        });
    platform::removeRecursively(target);
}

const BundleCorpus& largeBundle() {
    static const BundleCorpus corpus = build();
    static const bool cleanup = [] {
        std::atexit([] {
            const auto& folder = largeBundle().folder;
            if (largeBundle().onTmpfs) {
                ::umount2(folder.c_str(), MNT_DETACH);  // drops everything in it
                ::rmdir(folder.c_str());
            } else {
                platform::removeRecursively(folder);
            }
        });
        return true;
    }();
    (void)cleanup;
    return corpus;
}

}  // namespace bench
