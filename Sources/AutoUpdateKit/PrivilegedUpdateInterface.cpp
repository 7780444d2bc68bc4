#include "PrivilegedUpdateInterface.hpp"

namespace autoupdatekit {
namespace {

class ExportedInterface : public platform::ipc::ExportedObject {
public:
    explicit ExportedInterface(std::shared_ptr<PrivilegedUpdateHelperProtocol> object) : object_(std::move(object)) {}

    bool handle(const std::string& selector, const platform::PropertyValue& argument, const platform::ipc::PeerCredentials&,
                platform::ipc::ReplyCallback reply) override {
        auto sendReply = [reply = std::move(reply)](const PrivilegedUpdateReply& answer) {
            platform::ipc::KeyedArchiver coder(PrivilegedUpdateReply::className);
            answer.encode(coder);
            reply(coder.archive());
        };
        if (selector == PrivilegedUpdateHelperProtocol::scheduleInstallSelector) {
            auto request = PrivilegedUpdateRequest::decode(platform::ipc::KeyedUnarchiver(argument, PrivilegedUpdateRequest::className));
            if (!request) return false;
            object_->scheduleInstall(*request, sendReply);
            return true;
        }
        if (selector == PrivilegedUpdateHelperProtocol::installSystemLaunchAgentSelector) {
            object_->installSystemLaunchAgent(sendReply);
            return true;
        }
        return false;
    }

private:
    std::shared_ptr<PrivilegedUpdateHelperProtocol> object_;
};

}  // namespace

std::shared_ptr<platform::ipc::ExportedObject> makeExportedInterface(std::shared_ptr<PrivilegedUpdateHelperProtocol> object) {
    return std::make_shared<ExportedInterface>(std::move(object));
}

PrivilegedUpdateHelperProxy::PrivilegedUpdateHelperProxy(platform::ipc::Connection& connection, ErrorHandler errorHandler)
    : connection_(connection), errorHandler_(std::move(errorHandler)) {}

void PrivilegedUpdateHelperProxy::scheduleInstall(const PrivilegedUpdateRequest& request, Reply withReply) {
    platform::ipc::KeyedArchiver coder(PrivilegedUpdateRequest::className);
    request.encode(coder);
    call(PrivilegedUpdateHelperProtocol::scheduleInstallSelector, coder.archive(), withReply);
}

void PrivilegedUpdateHelperProxy::installSystemLaunchAgent(Reply withReply) {
    call(PrivilegedUpdateHelperProtocol::installSystemLaunchAgentSelector, std::nullopt, withReply);
}

void PrivilegedUpdateHelperProxy::call(const std::string& selector, const std::optional<platform::PropertyDictionary>& argument,
                                       const Reply& withReply) {
    connection_.send(
        selector, argument,
        [&](const platform::PropertyValue& archived) {
            auto reply = PrivilegedUpdateReply::decode(platform::ipc::KeyedUnarchiver(archived, PrivilegedUpdateReply::className));
            if (reply) withReply(*reply);
            else errorHandler_("The reply from the privileged update helper could not be decoded.");
        },
        errorHandler_);
}

}  // namespace autoupdatekit
