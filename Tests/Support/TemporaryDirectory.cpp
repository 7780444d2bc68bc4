#include "TemporaryDirectory.hpp"

#include "Platform/FileSystem.hpp"

#include <stdexcept>
#include <stdlib.h>

namespace testsupport {

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = "/tmp/autoupdatekit-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    try {
        platform::removeRecursively(path_);
    } catch (...) {
        // A test that failed half-way may leave an unremovable entry; never throw here.
    }
}

}  // namespace testsupport
