#pragma once
// The commands of autoupdate-manifest.

#include "CommandLine.hpp"

namespace manifestcommands {

using commandline::Command;

extern const Command keygen;
extern const Command make;
extern const Command delta;
extern const Command sign;
extern const Command refresh;
extern const Command verify;
extern const Command print;

}  // namespace manifestcommands
