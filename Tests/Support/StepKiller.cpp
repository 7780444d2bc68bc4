#include "StepKiller.hpp"

#include "WaitUntil.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {
namespace {

struct ProcessStatus {
    char state = 0;
    pid_t parent = 0;
    pid_t group = 0;
};

// From /proc/<pid>/stat; the command name may hold spaces, so fields follow its last ')'.
bool readStatus(pid_t pid, ProcessStatus& status) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) return false;
    std::size_t end = line.rfind(')');
    if (end == std::string::npos || end + 2 >= line.size()) return false;
    char* cursor = line.data() + end + 2;
    status.state = *cursor;
    status.parent = static_cast<pid_t>(std::strtol(cursor + 1, &cursor, 10));
    status.group = static_cast<pid_t>(std::strtol(cursor, &cursor, 10));
    return true;
}

// Living members of the group other than the leader, and the leader's own children.
std::set<pid_t> startedBy(pid_t leader) {
    std::set<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return found;
    while (dirent* entry = ::readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        ProcessStatus status;
        if (pid <= 0 || pid == leader || !readStatus(pid, status) || status.state == 'Z') continue;
        if (status.group == leader || status.parent == leader) found.insert(pid);
    }
    ::closedir(proc);
    return found;
}

bool leaderEnded(pid_t leader) {
    ProcessStatus status;
    return !readStatus(leader, status) || status.state == 'Z';
}

}  // namespace

StepKill killGroupAtStep(pid_t leader, int step, const std::function<bool()>& finished) {
    StepKill result;
    std::set<pid_t> seen;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!leaderEnded(leader) && !(finished && finished()) && std::chrono::steady_clock::now() < deadline) {
        for (pid_t pid : startedBy(leader)) seen.insert(pid);
        if (static_cast<int>(seen.size()) >= step) {
            ::kill(-leader, SIGKILL);
            result.killed = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    result.stepsSeen = static_cast<int>(seen.size());
    // Members outlive the leader only briefly once killed; wait for them (bounded).
    if (result.killed) waitUntil([&] { return startedBy(leader).empty(); }, std::chrono::seconds(30), std::chrono::milliseconds(10));
    return result;
}

}  // namespace testsupport
