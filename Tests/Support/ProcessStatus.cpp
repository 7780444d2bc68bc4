#include "ProcessStatus.hpp"

#include "Files.hpp"

#include "Platform/FileSystem.hpp"

#include <cstdlib>
#include <set>
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
    // The command may hold spaces and parentheses: the fields follow its last ")".
    std::string stat = readProc(pid, "stat");
    std::size_t at = stat.rfind(')');
    if (at == std::string::npos) return std::chrono::milliseconds(-1);
    const char* cursor = stat.c_str() + at + 1;
    char* end = nullptr;
    long ticks = 0;
    // Field 3 (state) follows the name; utime and stime are fields 14 and 15.
    for (int field = 3; field <= 15; ++field) {
        while (*cursor == ' ') ++cursor;
        if (field >= 14) {
            ticks += std::strtol(cursor, &end, 10);
            cursor = end;
        } else {
            while (*cursor != ' ' && *cursor != '\0') ++cursor;
        }
    }
    return std::chrono::milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

int lowestFreeDescriptor(pid_t pid) {
    std::set<int> open;
    for (const auto& name : platform::directoryEntries("/proc/" + std::to_string(pid) + "/fd")) open.insert(std::atoi(name.c_str()));
    int free = 0;
    while (open.count(free) != 0) ++free;
    return free;
}

}  // namespace testsupport
