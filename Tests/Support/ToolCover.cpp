#include "ToolCover.hpp"

#include "Files.hpp"
#include "WaitUntil.hpp"

#include "Platform/FileSystem.hpp"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

// Without reaping it: the test waits for its own child.
bool ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid;
}

}  // namespace

ToolCover::ToolCover(const std::string& programPath, const std::string& folder, const std::string& before) {
    std::string name = folder + "/" + programPath.substr(programPath.rfind('/') + 1);
    writeFile(name + ".real", "", 0755);
    real_ = std::make_unique<BindMount>(programPath, name + ".real");
    writeFile(name + ".cover", "#!/bin/sh\n" + before + "\nexec '" + name + ".real' \"$@\"\n", 0755);
    covered_ = std::make_unique<BindMount>(name + ".cover", programPath);
}

ToolGate::ToolGate(const std::string& toolPath, const std::string& argumentPattern)
    : cover_(toolPath, folder_.path(),
             "case \"$*\" in " + argumentPattern + ")\n  i=0\n  while [ $i -lt 600 ] && [ ! -e '" + folder_ / "open" +
                 "' ]; do sleep 0.1; i=$((i + 1)); done;;\nesac") {}

ToolGate::~ToolGate() { open(); }

void ToolGate::open() { writeFile(folder_ / "open", ""); }

StepKiller::StepKiller(const std::vector<std::string>& programs) {
    // A step number is taken by creating its file exclusively (set -C), so two runs never
    // share one. Only shell built-ins and /bin/sleep run here.
    std::string folder = folder_.path();
    std::string count = "if [ -e '" + folder + "/armed' ]; then\n"
                        "  read -r chosen < '" + folder + "/armed'\n"
                        "  n=1\n"
                        "  while [ $n -le 1000 ] && ! (set -C; : > '" + folder + "/runs/'$n) 2>/dev/null; do n=$((n + 1)); done\n"
                        "  if [ \"$n\" = \"$chosen\" ]; then\n"
                        "    : > '" + folder + "/reached'\n"
                        "    i=0\n"
                        "    while [ $i -lt 600 ]; do /bin/sleep 0.1; i=$((i + 1)); done\n"
                        "  fi\n"
                        "fi";
    for (const auto& program : programs) covers_.emplace_back(program, folder, count);
}

void StepKiller::arm(int step) {
    platform::removeRecursively(folder_ / "runs");
    platform::createDirectories(folder_ / "runs");
    ::unlink((folder_ / "reached").c_str());
    writeFile(folder_ / "armed", std::to_string(step) + "\n");
}

bool StepKiller::killAtChosenStep(pid_t leader, const std::function<bool()>& finished) {
    bool reached = false;
    waitUntil([&] { return (reached = exists(folder_ / "reached")) || ended(leader) || (finished && finished()); },
              std::chrono::seconds(60), std::chrono::milliseconds(5));
    ::unlink((folder_ / "armed").c_str());
    if (reached) ::kill(-leader, SIGKILL);
    return reached;
}

}  // namespace testsupport
