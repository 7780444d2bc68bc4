#pragma once
// The job supervisor (autoupdatekit-launchd) as a real process for tests, in its own
// process group so that the jobs it started end with it. Its standard error goes to a
// file, and it runs as it would without systemd (no JOURNAL_STREAM).

#include "Files.hpp"

#include <string>
#include <sys/types.h>

namespace testsupport {

class Supervisor {
public:
    Supervisor();
    ~Supervisor();
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    // What it wrote to standard error so far.
    std::string errorOutput() const;

private:
    TemporaryDirectory folder_;
    pid_t pid_ = -1;
};

}  // namespace testsupport
