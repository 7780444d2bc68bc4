#include "RequestingProcess.hpp"

#include "AsUser.hpp"
#include "HelperClient.hpp"

#include <csignal>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

RequestingProcess::RequestingProcess(const std::function<autoupdatekit::PrivilegedUpdateRequest(pid_t self)>& makeRequest,
                                     bool asNobody) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(fds[0]);
        std::string answer = "could not become uid 65534";
        if (!asNobody || becomeNobody()) {
            auto outcome = scheduleInstallOnce(makeRequest(::getpid()));
            answer = outcome.reply ? outcome.reply->message() : "no reply: " + outcome.error;
        }
        [[maybe_unused]] auto written = ::write(fds[1], answer.data(), answer.size());
        ::close(fds[1]);
        while (true) ::pause();
    }
    ::close(fds[1]);
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fds[0], buffer, sizeof buffer)) > 0) reply_.append(buffer, static_cast<std::size_t>(count));
    ::close(fds[0]);
}

RequestingProcess::~RequestingProcess() { end(); }

void RequestingProcess::end() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace testsupport
