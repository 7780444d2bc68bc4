#pragma once
// An app asking the test helper for its install: a child process that sends the
// request naming itself as the requester, then keeps running, as an app that has not
// quit yet, until the test ends it (at the latest when the test process ends).

#include "NobodyProcess.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"

#include <functional>
#include <string>

namespace testsupport {

class RequestingProcess {
public:
    // makeRequest gets the child's own pid; asNobody sends it as uid 65534.
    RequestingProcess(const std::function<autoupdatekit::PrivilegedUpdateRequest(pid_t self)>& makeRequest, bool asNobody);

    pid_t pid() const noexcept { return child_.pid(); }
    // The reply's message, or "no reply: " and the connection error.
    const std::string& reply() const noexcept { return reply_; }
    // Ends the process, as the app quitting.
    void end() { child_.end(); }

private:
    NobodyProcess child_;
    std::string reply_;
};

}  // namespace testsupport
