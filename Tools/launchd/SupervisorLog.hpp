#pragma once
// The supervisor's log: one line per job loaded, started, ended or failed,
// "<UTC time> autoupdatekit-launchd: <message>", on standard error. Under systemd that
// is the journal; otherwise (no JOURNAL_STREAM) each line also goes to
// /Library/Logs/autoupdatekit-launchd.log, beside the helpers' logs.

#include <string>

namespace launchd::SupervisorLog {

inline constexpr const char* filePath = "/Library/Logs/autoupdatekit-launchd.log";

// One write per line, so lines from several threads never interleave. Never fails.
void write(const std::string& message);

}  // namespace launchd::SupervisorLog
