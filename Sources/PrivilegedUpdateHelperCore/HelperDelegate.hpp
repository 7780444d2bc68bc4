#pragma once
// The listener's delegate: every connection exports the one shared installer.

#include "PrivilegedInstaller.hpp"

#include "Platform/IPC/Service.hpp"

#include <memory>

namespace privilegedhelper {

class HelperDelegate {
public:
    explicit HelperDelegate(std::shared_ptr<PrivilegedInstaller> installer);

    // Accepts every connection; the policy limits what a request can do.
    bool shouldAcceptNewConnection(std::shared_ptr<platform::ipc::ExportedObject>& exported) const;

    const std::shared_ptr<PrivilegedInstaller>& installer() const noexcept { return installer_; }

private:
    std::shared_ptr<PrivilegedInstaller> installer_;
    std::shared_ptr<platform::ipc::ExportedObject> exportedInterface_;
};

}  // namespace privilegedhelper
