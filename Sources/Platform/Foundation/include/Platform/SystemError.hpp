#pragma once
// Platform failures that pass through the system's callers with their own text.

#include <stdexcept>
#include <string>

namespace platform {

// An operating-system call failed; what() reads "<operation>: <strerror text>".
class SystemError : public std::runtime_error {
public:
    SystemError(const std::string& operation, int errorNumber);
    int code() const noexcept { return errorNumber_; }

private:
    int errorNumber_;
};

// Throws SystemError for the current errno.
[[noreturn]] void throwSystemError(const std::string& operation);

// A child process could not be started; what() names the executable and the reason.
class LaunchError : public SystemError {
public:
    LaunchError(const std::string& executablePath, int errorNumber);
};

}  // namespace platform
