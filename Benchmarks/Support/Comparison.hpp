#pragma once
// Side-by-side benchmarks: each operation runs as "<operation>/ours" and
// "<operation>/peer" on the same data in one run, timed as wall time, and the table at
// the end reports time ours / time peer against the operation's goal.

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Goal {
    std::string operation;
    // Highest acceptable time ours / time peer ("at least 0.9x its speed" is 1.11).
    double maximumRatio;
    std::string description;
};

// A goal on a counter a benchmark reports by itself (no peer to compare with).
struct CounterGoal {
    std::string benchmark;
    std::string counter;
    bool atLeast;  // the counter must be at least the limit; otherwise at most
    double limit;
    std::string description;
};

// Register a goal; return true so they can initialise a static.
bool registerGoal(Goal goal);
bool registerGoal(CounterGoal goal);

// Runs every benchmark, then prints the comparison table, a failed benchmark's row
// with its error. Returns the exit status: 0 when every goal with both sides measured
// is met and no benchmark of a goal failed.
int runAndReport(int argc, char** argv);

// Times operation once per iteration, each after an untimed prepare and with the
// disk's dirty pages written back; one untimed round runs first, so the cold caches
// and fresh memory of a first run are charged to neither side. A step that fails
// (SkipWithError or a thrown error) ends the benchmark with its error.
void timeEachRun(benchmark::State& state, const std::function<void()>& prepare, const std::function<void()>& operation);

// Runs operation once per iteration, all of it timed; a run that fails
// (SkipWithError or a thrown error) ends the benchmark with its error.
void timeEachIteration(benchmark::State& state, const std::function<void()>& operation);

// Runs a command to completion through the project's process layer; fails the
// benchmark on a nonzero status, naming the command. Does nothing once it has failed.
void runOrSkip(benchmark::State& state, const std::string& executable, const std::vector<std::string>& arguments);

}  // namespace bench
