#pragma once
// Child processes started by absolute path, never through a shell or the search path.
//
// Standard input is /dev/null in every form, and every descriptor but the three
// standard ones is closed in the child, so no pipe leaks into a concurrently started
// child. Failing to start the executable throws LaunchError with the OS's reason.

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

struct CapturedOutput {
    // Exit status; a child killed by a signal reports 128 + the signal number.
    int status = 0;
    // Standard output and standard error as written, through one pipe.
    std::string bytes;
};

// Runs the executable to completion, draining its output while it runs.
CapturedOutput runCapturingOutput(const std::string& executablePath,
                                  const std::vector<std::string>& arguments);

// Runs the executable to completion with its output discarded; returns its status.
int runDiscardingOutput(const std::string& executablePath, const std::vector<std::string>& arguments);

// A user and group for a child to run as (fork and exec, with the supplementary
// groups cleared); only a root parent can switch.
struct ChildIdentity {
    uid_t user;
    gid_t group;
};

// Starts the executable in a new session with its standard streams on /dev/null and
// does not wait for it. The child is reparented at once, so no zombie stays behind.
// With an identity, the child switches to it before exec; a failed switch is a
// LaunchError.
void launchDetached(const std::string& executablePath, const std::vector<std::string>& arguments,
                    const std::optional<ChildIdentity>& identity = std::nullopt);

// Starts the executable with this process's standard output and error and does not
// wait for it; it is reparented at once like a detached launch.
void launchInheriting(const std::string& executablePath, const std::vector<std::string>& arguments);

}  // namespace platform
