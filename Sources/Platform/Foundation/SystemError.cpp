#include "Platform/SystemError.hpp"

#include <cerrno>
#include <cstring>

namespace platform {

SystemError::SystemError(const std::string& operation, int errorNumber)
    : std::runtime_error(operation + ": " + std::strerror(errorNumber)), errorNumber_(errorNumber) {}

void throwSystemError(const std::string& operation) { throw SystemError(operation, errno); }

LaunchError::LaunchError(const std::string& executablePath, int errorNumber)
    : SystemError("could not launch " + executablePath, errorNumber) {}

}  // namespace platform
