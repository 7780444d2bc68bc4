#pragma once
// Side-by-side benchmarks: each operation runs as "<operation>/ours" and
// "<operation>/peer" on the same data in one run, timed as wall time, and the table at
// the end reports time ours / time peer against the operation's goal.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace bench {

struct Goal {
    std::string operation;
    // Highest acceptable time ours / time peer ("at least 0.9x its speed" is 1.11).
    double maximumRatio;
    std::string description;
};

// Registers the goal of an operation; returns true so it can initialise a static.
bool registerGoal(Goal goal);

// Runs every benchmark, then prints the comparison table. Returns the exit status:
// 0 when every goal with both sides measured is met.
int runAndReport(int argc, char** argv);

// Runs a command to completion through the project's process layer; fails the
// benchmark on a nonzero status.
void runOrSkip(benchmark::State& state, const std::string& executable, const std::vector<std::string>& arguments);

}  // namespace bench
