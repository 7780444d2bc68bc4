#pragma once
// The commands of autoupdate-helper.

#include "CommandLine.hpp"

namespace helpertool {

extern const commandline::Command make;
extern const commandline::Command print;

}  // namespace helpertool
