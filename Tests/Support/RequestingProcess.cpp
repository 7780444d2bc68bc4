#include "RequestingProcess.hpp"

#include "HelperClient.hpp"

#include <unistd.h>

namespace testsupport {

RequestingProcess::RequestingProcess(const std::function<autoupdatekit::PrivilegedUpdateRequest(pid_t self)>& makeRequest,
                                     bool asNobody)
    : child_([&] { return scheduleInstallReply(makeRequest(::getpid())); }, {asNobody, true}) {
    reply_ = child_.result(std::chrono::seconds(60)).value_or("no reply: none within 60 seconds");
}

}  // namespace testsupport
