#pragma once
// Kills a process group as a chosen step starts, as a crash or power loss would. A step
// is a run of one of the programs named, each covered (ToolCover) by a script that,
// while the killer is armed, takes the next step number for its run; the run that
// takes the chosen one says so and waits, and the group is killed there. The step
// reached is so told by the process itself, however busy the machine.

#include "Files.hpp"
#include "ToolCover.hpp"

#include <functional>
#include <list>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

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
