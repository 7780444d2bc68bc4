// codesign --verify --deep --strict on one 5,000-file, 200 MiB bundle, against
// sha256sum of every file, against `openssl dgst` of every file on every core (reading
// and hashing only, nothing compared), and against the floor of any verifier: open,
// read and SHA-256 every file of the bundle with one thread per core, in this process,
// nothing compared.

#include "Support/BundleCorpus.hpp"
#include "Support/Comparison.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/ToolPaths.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <openssl/evp.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const bool goals[] = {
    bench::registerGoal({"codesign verify vs sha256sum", 0.5, "at least 2x faster"}),
    bench::registerGoal({"codesign verify vs openssl dgst", 1.1, "at most 1.1x"}),
    bench::registerGoal({"codesign verify vs read-and-hash floor", 1.15, "at most 1.15x"}),
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

// The bundle's regular files, links not followed, sorted by path.
std::vector<std::string> filesOf(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && !entry.is_symlink()) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The files split evenly over one openssl process per core.
void hashWithOpenssl(benchmark::State& state) {
    const auto& corpus = bench::largeBundle();
    std::string perProcess = std::to_string(filesOf(corpus.bundle).size() / cores() + 1);
    bench::timeEachIteration(state, [&] {
        bench::runOrSkip(state, "/bin/sh",
                         {"-c", "find \"$0\" -type f -print0 | xargs -0 -P \"$1\" -n \"$2\" openssl dgst -sha256 -r >/dev/null",
                          corpus.bundle, std::to_string(cores()), perProcess});
    });
}

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// One worker of the floor: takes the next file of the shared list until none is left,
// with one digest context and one read buffer (the size verification reads with) for
// all its files. False when a file cannot be opened, read or hashed.
bool hashFilesInTurn(const std::vector<std::string>& files, std::atomic<std::size_t>& next, unsigned char* lastDigest) {
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    auto buffer = std::make_unique<std::array<unsigned char, 256 * 1024>>();
    if (!context) return false;
    for (std::size_t index = next++; index < files.size(); index = next++) {
        platform::FileDescriptor fd(::open(files[index].c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.valid() || EVP_DigestInit_ex2(context.get(), EVP_sha256(), nullptr) != 1) return false;
        ssize_t count = 0;
        while ((count = ::read(fd.get(), buffer->data(), buffer->size())) > 0 &&
               EVP_DigestUpdate(context.get(), buffer->data(), static_cast<std::size_t>(count)) == 1) {
        }
        // Left at 0 only by the end of the file, not by a failed read or update.
        if (count != 0 || EVP_DigestFinal_ex(context.get(), lastDigest, nullptr) != 1) return false;
    }
    return true;
}

// The least any verifier must do: every file opened, read and hashed, one thread per
// core over the sorted list, the list made before the timed runs.
void readAndHashFloor(benchmark::State& state) {
    const auto& corpus = bench::largeBundle();
    std::vector<std::string> files = filesOf(corpus.bundle);
    bench::timeEachIteration(state, [&] {
        std::atomic<std::size_t> next = 0;
        std::vector<std::array<unsigned char, EVP_MAX_MD_SIZE>> lastDigests(cores());
        std::vector<char> succeeded(cores());
        std::vector<std::thread> workers;
        for (unsigned worker = 0; worker < cores(); ++worker) {
            workers.emplace_back([&, worker] { succeeded[worker] = hashFilesInTurn(files, next, lastDigests[worker].data()); });
        }
        for (auto& worker : workers) worker.join();
        benchmark::DoNotOptimize(lastDigests.data());
        if (std::count(succeeded.begin(), succeeded.end(), 0) > 0) state.SkipWithError("a file of the bundle could not be hashed");
    });
}

}  // namespace

BENCHMARK(verifyOurs)->Name("codesign verify vs sha256sum/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(verifyPeer)->Name("codesign verify vs sha256sum/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(verifyOurs)->Name("codesign verify vs openssl dgst/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(hashWithOpenssl)->Name("codesign verify vs openssl dgst/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(verifyOurs)->Name("codesign verify vs read-and-hash floor/ours")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(readAndHashFloor)->Name("codesign verify vs read-and-hash floor/peer")->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
