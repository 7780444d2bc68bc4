#include "Comparison.hpp"

#include "Platform/Process.hpp"

#include <cstdio>
#include <map>

namespace bench {
namespace {

std::vector<Goal>& goals() {
    static std::vector<Goal> registered;
    return registered;
}

std::vector<CounterGoal>& counterGoals() {
    static std::vector<CounterGoal> registered;
    return registered;
}

// Keeps each benchmark's mean wall time per iteration while the console reporter prints.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
                seconds[run.run_name.function_name] = run.real_accumulated_time / static_cast<double>(run.iterations);
                for (const auto& [name, counter] : run.counters) counters[run.run_name.function_name + "." + name] = counter.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
    std::map<std::string, double> counters;
};

}  // namespace

bool registerGoal(Goal goal) {
    goals().push_back(std::move(goal));
    return true;
}

bool registerGoal(CounterGoal goal) {
    counterGoals().push_back(std::move(goal));
    return true;
}

void runOrSkip(benchmark::State& state, const std::string& executable, const std::vector<std::string>& arguments) {
    auto result = platform::runCapturingOutput(executable, arguments);
    if (result.status != 0) state.SkipWithError((executable + " failed: " + result.bytes).c_str());
}

int runAndReport(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    int status = 0;
    std::printf("\n%-36s %11s %11s %7s %-30s %s\n", "operation", "ours (ms)", "peer (ms)", "ratio", "goal", "result");
    for (const auto& goal : goals()) {
        auto ours = reporter.seconds.find(goal.operation + "/ours");
        auto peer = reporter.seconds.find(goal.operation + "/peer");
        if (ours == reporter.seconds.end() || peer == reporter.seconds.end()) continue;
        double ratio = ours->second / peer->second;
        bool met = ratio <= goal.maximumRatio;
        if (!met) status = 1;
        std::printf("%-36s %11.3f %11.3f %7.2f %-30s %s\n", goal.operation.c_str(), ours->second * 1e3, peer->second * 1e3, ratio,
                    goal.description.c_str(), met ? "pass" : "FAIL");
    }
    std::printf("\n%-50s %12s %-30s %s\n", "measure", "value", "goal", "result");
    for (const auto& goal : counterGoals()) {
        auto found = reporter.counters.find(goal.benchmark + "." + goal.counter);
        if (found == reporter.counters.end()) continue;
        bool met = goal.atLeast ? found->second >= goal.limit : found->second <= goal.limit;
        if (!met) status = 1;
        std::printf("%-50s %12.2f %-30s %s\n", (goal.benchmark + " " + goal.counter).c_str(), found->second,
                    goal.description.c_str(), met ? "pass" : "FAIL");
    }
    benchmark::Shutdown();
    return status;
}

}  // namespace bench
