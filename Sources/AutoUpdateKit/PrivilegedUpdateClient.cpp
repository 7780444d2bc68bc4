#include "AutoUpdateKit/PrivilegedUpdateClient.hpp"

#include "PrivilegedUpdateInterface.hpp"

#include <optional>

namespace autoupdatekit {

PrivilegedUpdateClientError PrivilegedUpdateClientError::helperRejected(const std::string& message) {
    return {Case::helperRejected, "The privileged update helper rejected the request: " + message};
}

PrivilegedUpdateClientError PrivilegedUpdateClientError::helperUnavailable(const std::string& detail) {
    return {Case::helperUnavailable, "The privileged update helper is not available: " + detail};
}

PrivilegedUpdateClientError PrivilegedUpdateClientError::invalidRemoteProxy() {
    return {Case::invalidRemoteProxy, "Could not create the privileged update helper proxy."};
}

template <typename Body>
void PrivilegedUpdateClient::withHelperProxy(Body body) const {
    platform::ipc::Connection connection(machServiceName_, platform::ipc::privilegedOption);
    connection.resume();
    // Exactly one of the reply and the error handler fires for the one message.
    std::optional<PrivilegedUpdateClientError> failure;
    bool completed = false;
    PrivilegedUpdateHelperProxy proxy(connection, [&](const std::string& description) {
        if (!completed) failure = PrivilegedUpdateClientError::helperUnavailable(description);
        completed = true;
    });
    body(proxy, [&](const PrivilegedUpdateReply& reply) {
        if (!completed && !reply.accepted()) failure = PrivilegedUpdateClientError::helperRejected(reply.message());
        completed = true;
    });
    connection.invalidate();
    if (failure) throw *failure;
}

void PrivilegedUpdateClient::scheduleInstall(const PrivilegedUpdateRequest& request) const {
    withHelperProxy([&](PrivilegedUpdateHelperProxy& proxy, auto reply) { proxy.scheduleInstall(request, reply); });
}

void PrivilegedUpdateClient::installSystemLaunchAgent() const {
    withHelperProxy([](PrivilegedUpdateHelperProxy& proxy, auto reply) { proxy.installSystemLaunchAgent(reply); });
}

}  // namespace autoupdatekit
