#pragma once

#include "Platform/FileDescriptor.hpp"
#include "Platform/IPC/Service.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace launchd {

struct Job {
    std::string label;
    std::string serviceName;
    std::vector<std::string> programArguments;
    platform::FileDescriptor socket;
    pid_t running = -1;
};

class JobSupervisor {
public:
    JobSupervisor();

    // Loads every "*.plist" in the folder; a job that does not load is reported and skipped.
    void loadFolder(const std::string& folder);
    // Loads one job; throws with the reason when it cannot.
    void load(const std::string& plistPath);
    bool isLoaded(const std::string& label);
    // Stops serving the job: its socket goes, and a running instance is asked to end.
    // False when no such job is loaded.
    bool unload(const std::string& label);

    // Serves for ever.
    [[noreturn]] void run();

private:
    void startJob(Job& job);
    void reapChildren();

    std::mutex lock_;
    std::map<std::string, Job> jobs_;
    platform::FileDescriptor wakeRead_;
    platform::FileDescriptor wakeWrite_;
    std::unique_ptr<platform::ipc::Listener> control_;
};

}  // namespace launchd
