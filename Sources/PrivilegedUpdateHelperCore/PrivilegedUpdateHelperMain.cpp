#include "PrivilegedUpdateHelperMain.hpp"

#include "HelperDelegate.hpp"
#include "HelperError.hpp"

#include "Platform/Bundle.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <unistd.h>

namespace privilegedhelper::PrivilegedUpdateHelperMain {
namespace {

platform::PropertyDictionary mainInfoDictionary() {
    try {
        return platform::Bundle::main().infoDictionary();
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

void run() { run(mainInfoDictionary()); }

void run(const platform::PropertyDictionary& info) {
    HelperPolicy policy;
    try {
        policy = HelperPolicy::fromInfoDictionary(info);
    } catch (const HelperError& error) {
        std::cerr << "PrivilegedUpdateHelper failed: " << error.description() << "\n" << std::flush;
        std::exit(1);
    }
    auto installer = std::make_shared<PrivilegedInstaller>(policy);
    installer->removeLeftovers();
    HelperDelegate delegate(installer);
    try {
        platform::ipc::Listener listener(policy.machServiceName, platform::ipc::privilegedOption);
        listener.setAcceptHandler([&delegate](const platform::ipc::PeerCredentials&) {
            std::shared_ptr<platform::ipc::ExportedObject> exported;
            return delegate.shouldAcceptNewConnection(exported) ? exported : nullptr;
        });
        listener.resume();
        // The main thread only waits, as a run loop with nothing scheduled would.
        while (true) ::pause();
    } catch (const std::exception& error) {
        std::cerr << "PrivilegedUpdateHelper failed: " << error.what() << "\n" << std::flush;
        std::exit(1);
    }
}

}  // namespace privilegedhelper::PrivilegedUpdateHelperMain
