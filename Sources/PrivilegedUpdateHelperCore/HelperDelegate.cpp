#include "HelperDelegate.hpp"

#include "PrivilegedUpdateInterface.hpp"

namespace privilegedhelper {

HelperDelegate::HelperDelegate(std::shared_ptr<PrivilegedInstaller> installer)
    : installer_(std::move(installer)), exportedInterface_(autoupdatekit::makeExportedInterface(installer_)) {}

bool HelperDelegate::shouldAcceptNewConnection(std::shared_ptr<platform::ipc::ExportedObject>& exported) const {
    exported = exportedInterface_;
    return true;
}

}  // namespace privilegedhelper
