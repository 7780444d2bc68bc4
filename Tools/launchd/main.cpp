// autoupdatekit-launchd: starts jobs on demand, standing in for launchd's system domain.
//
// At start it loads every job property list in /Library/LaunchDaemons (Label,
// MachServices, ProgramArguments); later ones arrive through `launchctl bootstrap`.
// For each job it binds the service's socket and, at the first connection, starts the
// job's program with that socket as descriptor 3 (LISTEN_PID, LISTEN_FDS). While the
// program runs it serves the socket itself; when it ends, the supervisor waits again.
// It takes no arguments; it exits 1 when it cannot start, 2 with its usage for bad usage.

#include "CommandLine.hpp"
#include "JobSupervisor.hpp"

namespace {

constexpr const char* usage =
    "usage: autoupdatekit-launchd\n"
    "Runs as root, loads the jobs in /Library/LaunchDaemons and starts each on demand.\n";

int run(const std::vector<std::string>& arguments) {
    if (!arguments.empty()) throw commandline::UsageError("takes no arguments");
    launchd::JobSupervisor supervisor;
    supervisor.loadFolder("/Library/LaunchDaemons");
    supervisor.run();
}

}  // namespace

int main(int argc, char** argv) { return commandline::runProgram("autoupdatekit-launchd", {usage, run, 1}, argc, argv); }
