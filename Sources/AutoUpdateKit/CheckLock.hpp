#pragma once
// Keeps two checks of the same app apart: an advisory lock on a file beside the staging
// folder (in its parent), held while this object lives.

#include "Platform/FileDescriptor.hpp"
#include "Platform/FileURL.hpp"

namespace autoupdatekit {

class CheckLock {
public:
    // Tries once, without waiting; held() tells whether it got the lock.
    explicit CheckLock(const platform::FileURL& stagingDirectory);
    bool held() const noexcept { return held_; }

private:
    platform::FileDescriptor file_;
    bool held_ = false;
};

}  // namespace autoupdatekit
