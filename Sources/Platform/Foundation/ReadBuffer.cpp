#include "Platform/ReadBuffer.hpp"

#include "Platform/SystemError.hpp"

#include <cerrno>
#include <unistd.h>

namespace platform {

void readInBlocks(int fd, ReadBuffer& buffer, const std::string& path,
                  const std::function<void(const char* bytes, std::size_t size)>& consume) {
    while (true) {
        ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            throwSystemError("read " + path);
        }
        if (count == 0) return;
        consume(buffer.data(), static_cast<std::size_t>(count));
    }
}

}  // namespace platform
