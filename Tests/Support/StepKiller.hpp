#pragma once
// Kills a process group at a chosen step: each process the group's leader starts (a
// tool run, a shell command) is a step, seen by polling /proc, and the whole group is
// killed with SIGKILL as the chosen one appears, as a crash or power loss would.

#include <functional>
#include <string>
#include <sys/types.h>

namespace testsupport {

struct StepKill {
    bool killed = false;  // false when the work finished before the step came
    int stepsSeen = 0;
};

// Watches the group led by pid (at most 60 s) and kills it when step processes have
// appeared, unless the leader ends or finished() says the work is done first. Returns
// once that is so, or once the killed group is gone.
StepKill killGroupAtStep(pid_t leader, int step, const std::function<bool()>& finished = {});

}  // namespace testsupport
