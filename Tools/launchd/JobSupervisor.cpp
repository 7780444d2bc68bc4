#include "JobSupervisor.hpp"

#include "SupervisorLog.hpp"
#include "SupervisorProtocol.hpp"

#include "Platform/FileSystem.hpp"
#include "Platform/PropertyList.hpp"
#include "Platform/SystemError.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace launchd {
namespace {

using platform::PropertyDictionary;

Job jobFrom(const std::string& plistPath) {
    platform::PropertyValue value = platform::PropertyList::readFile(plistPath);
    const auto* job = value.getIf<PropertyDictionary>();
    if (job == nullptr) throw std::runtime_error(plistPath + ": not a dictionary");
    const std::string* label = platform::PropertyList::stringValue(*job, "Label");
    auto services = job->find("MachServices");
    const auto* serviceTable = services == job->end() ? nullptr : services->second.getIf<PropertyDictionary>();
    auto arguments = job->find("ProgramArguments");
    const auto* argumentList = arguments == job->end() ? nullptr : arguments->second.getIf<platform::PropertyArray>();
    if (label == nullptr || serviceTable == nullptr || serviceTable->empty() || argumentList == nullptr || argumentList->empty()) {
        throw std::runtime_error(plistPath + ": needs Label, MachServices and ProgramArguments");
    }
    Job loaded{*label, serviceTable->begin()->first, {}, {}, -1};
    for (const auto& argument : *argumentList) {
        const auto* text = argument.getIf<std::string>();
        if (text == nullptr) throw std::runtime_error(plistPath + ": ProgramArguments holds a non-string");
        loaded.programArguments.push_back(*text);
    }
    if (loaded.programArguments.front().empty() || loaded.programArguments.front().front() != '/') {
        throw std::runtime_error(plistPath + ": the program must be an absolute path");
    }
    return loaded;
}

// How a job's process ended, for the log.
std::string endingOf(int status) {
    if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
    int code = WEXITSTATUS(status);
    // The child exits 127 when its program cannot be run at all.
    return "exited with status " + std::to_string(code) + (code == 127 ? " (its program could not be run)" : "");
}

// Answers launchctl: "print" for anyone, "bootstrap" and "bootout" for root only.
class ControlService : public platform::ipc::ExportedObject {
public:
    explicit ControlService(JobSupervisor& supervisor) : supervisor_(supervisor) {}

    bool handle(const std::string& selector, const platform::PropertyValue& argument, const platform::ipc::PeerCredentials& peer,
                platform::ipc::ReplyCallback reply) override {
        const auto* arguments = argument.getIf<PropertyDictionary>();
        if (arguments == nullptr) return false;
        if (selector == supervisorprotocol::printSelector) {
            const std::string* label = platform::PropertyList::stringValue(*arguments, "label");
            reply({{"loaded", label != nullptr && supervisor_.isLoaded(*label)}});
            return true;
        }
        bool bootstrap = selector == supervisorprotocol::bootstrapSelector;
        if (!bootstrap && selector != supervisorprotocol::bootoutSelector) return false;
        const std::string* name = platform::PropertyList::stringValue(*arguments, bootstrap ? "path" : "label");
        if (name == nullptr) return false;
        if (peer.userIdentifier != 0) {
            reply({{"ok", false}, {"message", "Operation not permitted: only root may " + selector + " system jobs."}});
            return true;
        }
        try {
            if (bootstrap) {
                supervisor_.load(*name);
            } else if (!supervisor_.unload(*name)) {
                throw std::runtime_error("no job " + *name + " is loaded");
            }
            reply({{"ok", true}});
        } catch (const std::exception& error) {
            SupervisorLog::write((bootstrap ? "could not load " : "could not unload ") + *name + ": " + error.what());
            reply({{"ok", false}, {"message", error.what()}});
        }
        return true;
    }

private:
    JobSupervisor& supervisor_;
};

}  // namespace

JobSupervisor::JobSupervisor() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) platform::throwSystemError("pipe");
    wakeRead_ = platform::FileDescriptor(fds[0]);
    wakeWrite_ = platform::FileDescriptor(fds[1]);
    control_ = std::make_unique<platform::ipc::Listener>(supervisorprotocol::serviceName, platform::ipc::privilegedOption);
    auto service = std::make_shared<ControlService>(*this);
    control_->setAcceptHandler([service](const platform::ipc::PeerCredentials&) { return service; });
    control_->resume();
}

void JobSupervisor::loadFolder(const std::string& folder) {
    std::vector<std::string> names;
    try {
        names = platform::directoryEntries(folder);
    } catch (const std::exception&) {
        return;  // no jobs yet
    }
    for (const auto& name : names) {
        if (name.size() < 7 || name.compare(name.size() - 6, 6, ".plist") != 0) continue;
        try {
            load(folder + "/" + name);
        } catch (const std::exception& error) {
            SupervisorLog::write("could not load " + folder + "/" + name + ": " + error.what());
        }
    }
}

void JobSupervisor::load(const std::string& plistPath) {
    Job job = jobFrom(plistPath);
    std::lock_guard<std::mutex> guard(lock_);
    auto existing = jobs_.find(job.label);
    if (existing != jobs_.end()) {
        // A reloaded job keeps its socket and any running instance.
        existing->second.programArguments = job.programArguments;
        SupervisorLog::write("reloaded " + job.label + " from " + plistPath);
        return;
    }
    job.socket = platform::ipc::bindServiceSocket(job.serviceName, platform::ipc::privilegedOption);
    std::string label = job.label;
    jobs_.emplace(label, std::move(job));
    SupervisorLog::write("loaded " + label + " from " + plistPath);
    [[maybe_unused]] auto written = ::write(wakeWrite_.get(), "x", 1);
}

bool JobSupervisor::isLoaded(const std::string& label) {
    std::lock_guard<std::mutex> guard(lock_);
    return jobs_.count(label) != 0;
}

bool JobSupervisor::unload(const std::string& label) {
    std::lock_guard<std::mutex> guard(lock_);
    auto job = jobs_.find(label);
    if (job == jobs_.end()) return false;
    ::unlink(platform::ipc::socketPath(job->second.serviceName, platform::ipc::privilegedOption).c_str());
    if (job->second.running > 0) ::kill(job->second.running, SIGTERM);  // reaped with the others
    jobs_.erase(job);
    SupervisorLog::write("unloaded " + label);
    [[maybe_unused]] auto written = ::write(wakeWrite_.get(), "x", 1);
    return true;
}

void JobSupervisor::startJob(Job& job) {
    // Everything the child needs is built before fork: the supervisor has other
    // threads, so the child may only make async-signal-safe calls.
    std::vector<char*> argv;
    for (auto& argument : job.programArguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::string listenFds = "LISTEN_FDS=1";
    std::string listenPid = "LISTEN_PID=" + std::string(24, '\0');
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "LISTEN_", 7) != 0) envp.push_back(*entry);
    }
    envp.push_back(listenFds.data());
    envp.push_back(listenPid.data());
    envp.push_back(nullptr);
    int socket = job.socket.get();
    pid_t pid = ::fork();
    if (pid == 0) {
        // Jobs end with their supervisor.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::dup2(socket, 3) < 0) ::_exit(127);
        ::close_range(4, ~0U, 0);
        char digits[24];
        int length = 0;
        for (pid_t self = ::getpid(); self > 0; self /= 10) digits[length++] = static_cast<char>('0' + self % 10);
        for (int index = 0; index < length; ++index) listenPid[11 + static_cast<std::size_t>(index)] = digits[length - 1 - index];
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (pid < 0) {
        SupervisorLog::write("could not start " + job.label + ": " + std::strerror(errno));
        return;
    }
    job.running = pid;
    SupervisorLog::write("started " + job.label + " (pid " + std::to_string(pid) + "): " + job.programArguments.front());
}

void JobSupervisor::reapChildren() {
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& [label, job] : jobs_) {
            if (job.running != pid) continue;
            job.running = -1;
            SupervisorLog::write(label + " (pid " + std::to_string(pid) + ") " + endingOf(status));
        }
    }
}

void JobSupervisor::run() {
    while (true) {
        std::vector<pollfd> watched{{wakeRead_.get(), POLLIN, 0}};
        std::vector<std::string> labels;
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (auto& [label, job] : jobs_) {
                if (job.running > 0) continue;
                watched.push_back({job.socket.get(), POLLIN, 0});
                labels.push_back(label);
            }
        }
        // Wakes at least every 200 ms to notice ended jobs.
        int ready = ::poll(watched.data(), watched.size(), 200);
        reapChildren();
        if (ready <= 0) continue;
        char drained[64];
        while (::read(wakeRead_.get(), drained, sizeof drained) > 0) {
        }
        std::lock_guard<std::mutex> guard(lock_);
        for (std::size_t index = 1; index < watched.size(); ++index) {
            if (watched[index].revents == 0) continue;
            auto job = jobs_.find(labels[index - 1]);
            if (job != jobs_.end() && job->second.running <= 0) startJob(job->second);
        }
    }
}

}  // namespace launchd
