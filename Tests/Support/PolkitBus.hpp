#pragma once
// The system's administrator prompt as a test meets it: a D-Bus system bus and a
// polkit daemon of the test's own, in its private mount namespace (PrivateSystemPaths).
// /run/dbus is a fresh tmpfs, polkit's actions folder holds the machine's actions and
// the given policy file, and its rules folder only the given rules; the real pkexec
// then asks this polkit. Both daemons end with the object (or with the test process).

#include "BindMount.hpp"
#include "Files.hpp"
#include "TmpfsMount.hpp"

#include <memory>
#include <string>
#include <sys/types.h>

namespace testsupport {

class PolkitBus {
public:
    // Throws when the daemons cannot be started or polkit does not answer within 10 s.
    PolkitBus(const std::string& policyFile, const std::string& rules);
    ~PolkitBus();
    PolkitBus(const PolkitBus&) = delete;
    PolkitBus& operator=(const PolkitBus&) = delete;

private:
    TemporaryDirectory folder_;
    std::unique_ptr<TmpfsMount> busFolder_;
    std::unique_ptr<BindMount> actions_;
    std::unique_ptr<BindMount> rules_;
    pid_t bus_ = -1;
    pid_t polkit_ = -1;
};

}  // namespace testsupport
