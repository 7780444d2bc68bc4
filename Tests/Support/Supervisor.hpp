#pragma once
// The job supervisor (autoupdatekit-launchd) as a real process for tests, in its own
// process group so that the jobs it started end with it.

#include <sys/types.h>

namespace testsupport {

class Supervisor {
public:
    Supervisor();
    ~Supervisor();
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

private:
    pid_t pid_ = -1;
};

}  // namespace testsupport
