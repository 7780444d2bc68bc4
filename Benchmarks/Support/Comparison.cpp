#include "Comparison.hpp"

#include "Platform/Process.hpp"

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>

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

// Keeps each benchmark's wall time per iteration (the median over the repetitions when
// there are several) while the console reporter prints.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred) errors_.emplace(run.run_name.function_name, run.error_message);
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || run.iterations <= 0 || (run.run_type == Run::RT_Aggregate && !median)) continue;
            auto& into = median ? medians_ : singles_;
            into.seconds[run.run_name.function_name] = run.real_accumulated_time / static_cast<double>(run.iterations);
            for (const auto& [name, counter] : run.counters) into.counters[run.run_name.function_name + "." + name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::optional<double> seconds(const std::string& name) const { return find(&Figures::seconds, name); }
    std::optional<double> counter(const std::string& name) const { return find(&Figures::counters, name); }
    // The first error a benchmark of that name ended with.
    std::optional<std::string> error(const std::string& name) const {
        auto found = errors_.find(name);
        return found == errors_.end() ? std::nullopt : std::optional<std::string>(found->second);
    }

private:
    struct Figures {
        std::map<std::string, double> seconds;
        std::map<std::string, double> counters;
    };

    std::optional<double> find(std::map<std::string, double> Figures::*table, const std::string& name) const {
        for (const Figures* figures : {&medians_, &singles_}) {
            auto found = (figures->*table).find(name);
            if (found != (figures->*table).end()) return found->second;
        }
        return std::nullopt;
    }

    Figures medians_;
    Figures singles_;
    std::map<std::string, std::string> errors_;
};

// Three repetitions in random order unless asked otherwise: on a shared machine one run
// of an operation can be slowed by whatever ran just before it.
std::vector<char*> withDefaultRepetitions(int argc, char** argv) {
    static char repetitions[] = "--benchmark_repetitions=3";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> arguments(argv, argv + argc);
    bool chosen = false;
    for (int index = 1; index < argc; ++index) chosen = chosen || std::string(argv[index]).rfind("--benchmark_repetitions", 0) == 0;
    if (!chosen) {
        arguments.push_back(repetitions);
        arguments.push_back(interleaving);
    }
    arguments.push_back(nullptr);
    return arguments;
}

// Runs one step unless the benchmark failed already; a thrown error fails it.
bool attempt(benchmark::State& state, const std::function<void()>& step) {
    if (state.error_occurred()) return false;
    try {
        step();
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
    return !state.error_occurred();
}

}  // namespace

bool registerGoal(Goal goal) {
    goals().push_back(std::move(goal));
    return true;
}

bool registerGoal(CounterGoal goal) {
    counterGoals().push_back(std::move(goal));
    return true;
}

void timeEachRun(benchmark::State& state, const std::function<void()>& prepare, const std::function<void()>& operation) {
    if (!attempt(state, prepare) || !attempt(state, operation)) return;
    // The timer may not be paused or resumed once an error is reported, so a failed
    // step ends the loop before the next pause.
    for (auto _ : state) {
        state.PauseTiming();
        bool prepared = attempt(state, prepare);
        if (!prepared) break;
        ::sync();
        state.ResumeTiming();
        if (!attempt(state, operation)) break;
    }
}

void timeEachIteration(benchmark::State& state, const std::function<void()>& operation) {
    for (auto _ : state) {
        if (!attempt(state, operation)) break;
    }
}

void runOrSkip(benchmark::State& state, const std::string& executable, const std::vector<std::string>& arguments) {
    if (state.error_occurred()) return;  // a step before this one failed already
    auto result = platform::runCapturingOutput(executable, arguments);
    if (result.status == 0) return;
    std::string command = executable;
    for (const auto& argument : arguments) command += " " + argument;
    std::string output = result.bytes.substr(0, result.bytes.find('\n'));
    state.SkipWithError((command + " exited " + std::to_string(result.status) + ": " + output).c_str());
}

int runAndReport(int argc, char** argv) {
    std::vector<char*> arguments = withDefaultRepetitions(argc, argv);
    int count = static_cast<int>(arguments.size()) - 1;
    benchmark::Initialize(&count, arguments.data());
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    int status = 0;
    std::printf("\n%-48s %11s %11s %7s %-30s %s\n", "operation", "ours (ms)", "peer (ms)", "ratio", "goal", "result");
    for (const auto& goal : goals()) {
        auto error = reporter.error(goal.operation + "/ours");
        if (!error) error = reporter.error(goal.operation + "/peer");
        if (error) {
            status = 1;
            std::printf("%-48s %11s %11s %7s %-30s ERROR: %s\n", goal.operation.c_str(), "-", "-", "-", goal.description.c_str(),
                        error->c_str());
            continue;
        }
        auto ours = reporter.seconds(goal.operation + "/ours");
        auto peer = reporter.seconds(goal.operation + "/peer");
        if (!ours || !peer) continue;
        double ratio = *ours / *peer;
        bool met = ratio <= goal.maximumRatio;
        if (!met) status = 1;
        std::printf("%-48s %11.3f %11.3f %7.2f %-30s %s\n", goal.operation.c_str(), *ours * 1e3, *peer * 1e3, ratio,
                    goal.description.c_str(), met ? "pass" : "FAIL");
    }
    std::printf("\n%-50s %12s %-30s %s\n", "measure", "value", "goal", "result");
    for (const auto& goal : counterGoals()) {
        if (auto error = reporter.error(goal.benchmark)) {
            status = 1;
            std::printf("%-50s %12s %-30s ERROR: %s\n", (goal.benchmark + " " + goal.counter).c_str(), "-",
                        goal.description.c_str(), error->c_str());
            continue;
        }
        auto found = reporter.counter(goal.benchmark + "." + goal.counter);
        if (!found) continue;
        bool met = goal.atLeast ? *found >= goal.limit : *found <= goal.limit;
        if (!met) status = 1;
        std::printf("%-50s %12.2f %-30s %s\n", (goal.benchmark + " " + goal.counter).c_str(), *found,
                    goal.description.c_str(), met ? "pass" : "FAIL");
    }
    benchmark::Shutdown();
    return status;
}

}  // namespace bench
