// Round trips to a real helper process: scheduleInstall calls that the helper rejects,
// one connection per call as the client makes them, from 1 and 64 concurrent clients.
// The helper runs in a private mount namespace (Support/PrivateSystem), so its socket
// never touches the machine's.

#include "Support/Comparison.hpp"
#include "Support/PrivateSystem.hpp"


#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const bool throughputGoal = bench::registerGoal(
    bench::CounterGoal{"helper round trips, 64 clients", "calls_per_second", true, 5000, "at least 5,000 calls/s"});
const bool latencyGoal =
    bench::registerGoal(bench::CounterGoal{"helper round trips, 64 clients", "p99_ms", false, 20, "p99 under 20 ms"});
const bool failureGoal =
    bench::registerGoal(bench::CounterGoal{"helper round trips, 64 clients", "failed_calls", false, 0, "no failed call"});

void roundTrips(benchmark::State& state) {
    if (const auto& error = bench::startDeployedHelper(); !error.empty()) return state.SkipWithError(error.c_str());
    auto clients = static_cast<int>(state.range(0));
    constexpr auto duration = std::chrono::seconds(3);
    for (auto _ : state) {
        std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
        std::atomic<long> failures{0};
        auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int client = 0; client < clients; ++client) {
            threads.emplace_back([&, client] {
                auto& mine = latencies[static_cast<std::size_t>(client)];
                while (Clock::now() - start < duration) {
                    auto before = Clock::now();
                    if (!bench::rejectedScheduleInstall()) ++failures;
                    mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
                }
            });
        }
        for (auto& thread : threads) thread.join();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::vector<double> all;
        for (const auto& mine : latencies) all.insert(all.end(), mine.begin(), mine.end());
        std::sort(all.begin(), all.end());
        state.counters["calls_per_second"] = static_cast<double>(all.size()) / seconds;
        state.counters["p99_ms"] = all.empty() ? 0 : all[all.size() * 99 / 100];
        state.counters["failed_calls"] = static_cast<double>(failures.load());
    }
}

}  // namespace

BENCHMARK(roundTrips)->Name("helper round trips, 1 client")->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(roundTrips)->Name("helper round trips, 64 clients")->Arg(64)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
