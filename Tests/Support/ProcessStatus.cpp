#include "ProcessStatus.hpp"

#include "Files.hpp"

#include "Platform/FileSystem.hpp"

#include <cstdlib>
#include <set>
#include <sstream>
#include <unistd.h>

namespace testsupport {
namespace {

std::string readProc(pid_t pid, const std::string& name) { return readFileIfAny("/proc/" + std::to_string(pid) + "/" + name); }

}  // namespace

long processStatusField(pid_t pid, const std::string& field) {
    std::string status = readProc(pid, "status");
    std::size_t at = status.find("\n" + field + ":");
    if (at == std::string::npos) return -1;
    return std::strtol(status.c_str() + at + field.size() + 2, nullptr, 10);
}

std::chrono::milliseconds processCPUTime(pid_t pid) {
    // The command may hold spaces and parentheses: the fields follow its last ")",
    // from field 3 (state) on; utime and stime are fields 14 and 15.
    std::string stat = readProc(pid, "stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string skipped;
    for (int field = 3; field < 14; ++field) fields >> skipped;
    long user = 0, system = 0;
    fields >> user >> system;
    return std::chrono::milliseconds((user + system) * 1000 / ::sysconf(_SC_CLK_TCK));
}

int lowestFreeDescriptor(pid_t pid) {
    std::set<int> open;
    for (const auto& name : platform::directoryEntries("/proc/" + std::to_string(pid) + "/fd")) open.insert(std::atoi(name.c_str()));
    int free = 0;
    while (open.count(free) != 0) ++free;
    return free;
}

}  // namespace testsupport
