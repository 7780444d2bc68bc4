#pragma once
// What the kernel tells about another process: fields of /proc/<pid>/status, the CPU
// time it has used, its open descriptors.

#include <chrono>
#include <string>
#include <sys/types.h>

namespace testsupport {

// The number at the start of a field of /proc/<pid>/status ("VmRSS" and "VmHWM" are in
// KiB, "Threads" a count); -1 when the process or the field is missing.
long processStatusField(pid_t pid, const std::string& field);

// User and system CPU time the process has used, all its threads together.
std::chrono::milliseconds processCPUTime(pid_t pid);

// The lowest descriptor number the process has free.
int lowestFreeDescriptor(pid_t pid);

}  // namespace testsupport
