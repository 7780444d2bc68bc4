#pragma once
// The commands of autoupdate-helper.

#include "CommandLine.hpp"

namespace helpertool {

extern const commandline::Command make;
extern const commandline::Command print;
extern const commandline::Command install;
extern const commandline::Command uninstall;

}  // namespace helpertool
