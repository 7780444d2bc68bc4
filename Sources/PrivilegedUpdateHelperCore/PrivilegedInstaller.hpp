#pragma once
// The one object every client connection of the helper talks to. Requests are checked
// on the connection's own thread and answered at once; installs run one at a time on
// the installer's serial queue, whichever connection asked for them.

#include "HelperPolicy.hpp"

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/SerialQueue.hpp"

namespace privilegedhelper {

class PrivilegedInstaller : public autoupdatekit::PrivilegedUpdateHelperProtocol {
public:
    // Touches no file; the queue is labelled with the service name and ".install".
    explicit PrivilegedInstaller(HelperPolicy policy);

    const HelperPolicy& policy() const noexcept { return policy_; }
    const platform::FileURL& logURL() const noexcept { return logURL_; }
    const platform::SerialQueue& queue() const noexcept { return queue_; }

    void scheduleInstall(const autoupdatekit::PrivilegedUpdateRequest& request, Reply withReply) override;
    void installSystemLaunchAgent(Reply withReply) override;

    // Appends "<UTC time> <message>" as one line with one write. Line breaks in the
    // message are escaped, so no text from a client or a tool can forge or split a
    // line. Never fails and never reports failure.
    void log(const std::string& message) const;

private:
    HelperPolicy policy_;
    platform::FileURL logURL_;
    platform::SerialQueue queue_;
};

}  // namespace privilegedhelper
