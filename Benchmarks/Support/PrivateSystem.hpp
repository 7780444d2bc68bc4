#pragma once
// The benchmark process's own view of the system's fixed folders: a private mount
// namespace with fresh tmpfs mounts over /run, /Applications, /Library and
// /etc/autoupdatekit, and the deployed helper running in it.

#include <string>

namespace bench {

// Enters the namespace once; returns an error text when it cannot (not root).
const std::string& enterPrivateSystem();

// Starts the deployed helper once, standalone; returns an error text on failure.
const std::string& startDeployedHelper();

// One scheduleInstall the deployed helper rejects, on its own connection as the
// client makes them; true when a reply came back.
bool rejectedScheduleInstall();

}  // namespace bench
