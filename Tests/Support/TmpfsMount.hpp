#pragma once
// A tmpfs mounted over a folder until the end of the scope, inside a test's private
// mount namespace (PrivateSystemPaths): a file system of its own, as a tmpfs /tmp is,
// for moves that cross file systems or a disk that fills up.

#include <string>

namespace testsupport {

class TmpfsMount {
public:
    // options as for mount -o ("mode=1777,size=64k"); the folder is made when missing.
    TmpfsMount(const std::string& path, const std::string& options);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

}  // namespace testsupport
