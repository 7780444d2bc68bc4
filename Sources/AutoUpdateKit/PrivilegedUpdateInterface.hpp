#pragma once
// The helper interface on the IPC transport: exporting an implementation on the
// helper's connections, and calling one through a client connection.

#include "AutoUpdateKit/PrivilegedUpdateProtocol.hpp"
#include "Platform/IPC/Service.hpp"

#include <memory>

namespace autoupdatekit {

// Decodes each message for its selector and calls the implementation; a message whose
// argument does not decode ends the connection without calling it.
std::shared_ptr<platform::ipc::ExportedObject> makeExportedInterface(std::shared_ptr<PrivilegedUpdateHelperProtocol> object);

// Calls the helper over a resumed connection. A reply that does not decode, or a
// transport failure, goes to the error handler instead of the reply callback.
class PrivilegedUpdateHelperProxy : public PrivilegedUpdateHelperProtocol {
public:
    using ErrorHandler = std::function<void(const std::string& description)>;

    PrivilegedUpdateHelperProxy(platform::ipc::Connection& connection, ErrorHandler errorHandler);
    void scheduleInstall(const PrivilegedUpdateRequest& request, Reply withReply) override;
    void installSystemLaunchAgent(Reply withReply) override;

private:
    void call(const std::string& selector, const std::optional<platform::PropertyDictionary>& argument, const Reply& withReply);

    platform::ipc::Connection& connection_;
    ErrorHandler errorHandler_;
};

}  // namespace autoupdatekit
