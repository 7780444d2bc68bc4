#include "PrivilegedUpdateHelperMain.hpp"

#include "HelperDelegate.hpp"
#include "HelperError.hpp"
#include "HelperToolFolder.hpp"

#include "Platform/Bundle.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sys/resource.h>
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

// A copy holds two descriptors per folder level of a staged tree (512 levels at most),
// so the usual soft limit of 1024 could leave other requests without one meanwhile.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= 65536) return;
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

void run() { run(mainInfoDictionary()); }

void run(const platform::PropertyDictionary& info) {
    HelperPolicy policy;
    try {
        policy = HelperPolicy::fromInfoDictionary(info);
        HelperToolFolder::check(policy.toolDirectory);
    } catch (const HelperError& error) {
        std::cerr << "PrivilegedUpdateHelper failed: " << error.description() << "\n" << std::flush;
        std::exit(1);
    }
    raiseDescriptorLimit();
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
