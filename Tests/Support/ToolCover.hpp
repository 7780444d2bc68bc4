#pragma once
// One of the system's fixed programs covered by a script of the test's, inside the
// test's private mount namespace, so a test can see or hold each run without a switch
// in the code under test. The real program is bound at a second path, and the script
// bound over its own path runs the test's shell text first and then the real program
// with the same arguments. On it are built a gate that holds chosen runs and a killer
// that ends a process group as a chosen run starts.

#include "PrivateSystemPaths.hpp"
#include "Files.hpp"

#include <functional>
#include <list>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class ToolCover {
public:
    // The two files go in folder; the text must not run the program it covers.
    ToolCover(const std::string& programPath, const std::string& folder, const std::string& before);

private:
    std::unique_ptr<BindMount> real_;     // the real program, at a second path
    std::unique_ptr<BindMount> covered_;  // the script, over the program (unbound first)
};

// Holds the runs of one of the system's fixed tools whose arguments match a pattern
// until the test opens the gate, so a helper's install can be kept in a known step
// without a switch in the helper: a matching run waits (at most 60 s) for the gate to
// open, then runs the real tool, and every other run goes straight through.
class ToolGate {
public:
    // argumentPattern is a shell case pattern matched against all arguments as one text.
    ToolGate(const std::string& toolPath, const std::string& argumentPattern);
    ~ToolGate();  // opens the gate; the cover goes after
    ToolGate(const ToolGate&) = delete;
    ToolGate& operator=(const ToolGate&) = delete;

    void open();

private:
    TemporaryDirectory folder_;
    ToolCover cover_;
};

// Kills a process group as a chosen step starts, as a crash or power loss would. A step
// is a run of one of the programs named, each covered by a script that, while the
// killer is armed, takes the next step number for its run; the run that takes the
// chosen one says so and waits, and the group is killed there. The step reached is so
// told by the process itself, however busy the machine.
class StepKiller {
public:
    // Programs by absolute path; /bin/sleep, which the waiting run uses, cannot be one.
    explicit StepKiller(const std::vector<std::string>& programs);
    StepKiller(const StepKiller&) = delete;
    StepKiller& operator=(const StepKiller&) = delete;

    // Counts runs from now on; the step-th waits to be killed.
    void arm(int step);
    // Waits (at most 60 s) for the chosen run and kills the group led by leader then:
    // true. False when the leader ends or finished() holds first. Disarms either way.
    bool killAtChosenStep(pid_t leader, const std::function<bool()>& finished = {});

private:
    TemporaryDirectory folder_;
    std::list<ToolCover> covers_;
};

}  // namespace testsupport
