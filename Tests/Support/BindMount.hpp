#pragma once
// A file or folder bind-mounted over a path of the machine until the end of the scope,
// only ever inside a test's private mount namespace (PrivateSystemPaths): a test may
// cover a real system path (a CA file, a tool, polkit's folders) without touching it.

#include <string>

namespace testsupport {

class BindMount {
public:
    // Throws when the process shares the machine's mount namespace or the mount fails.
    BindMount(const std::string& from, std::string over);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;

private:
    std::string over_;
};

}  // namespace testsupport
