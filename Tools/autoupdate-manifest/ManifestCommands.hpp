#pragma once
// The commands of autoupdate-manifest.

#include <string>
#include <vector>

namespace manifestcommands {

struct Command {
    const char* usage;
    int (*run)(const std::vector<std::string>& arguments);
    // Exit status for a failure other than bad usage.
    int failureStatus;
};

extern const Command keygen;
extern const Command make;
extern const Command sign;
extern const Command verify;
extern const Command print;

}  // namespace manifestcommands
