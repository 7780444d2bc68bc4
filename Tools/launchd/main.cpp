// autoupdatekit-launchd: starts jobs on demand, standing in for launchd's system domain.
//
// At start it loads every job property list in /Library/LaunchDaemons (Label,
// MachServices, ProgramArguments); later ones arrive through `launchctl bootstrap`.
// For each job it binds the service's socket and, at the first connection, starts the
// job's program with that socket as descriptor 3 (LISTEN_PID, LISTEN_FDS). While the
// program runs it serves the socket itself; when it ends, the supervisor waits again.

#include "JobSupervisor.hpp"

#include <iostream>

int main() {
    try {
        launchd::JobSupervisor supervisor;
        supervisor.loadFolder("/Library/LaunchDaemons");
        supervisor.run();
    } catch (const std::exception& error) {
        std::cerr << "autoupdatekit-launchd: " << error.what() << "\n";
        return 1;
    }
}
