// autoupdatectl: shows what an app's update feed does to the installed app, the way
// the app itself would see it.
//
//   autoupdatectl check [--json] [--scheduled] <app-bundle>
//   autoupdatectl install [--privileged] <app-bundle>
//   autoupdatectl status <app-bundle>
//
// Exit status: 0 up to date (or the update is suppressed), 3 update ready (the staged
// app's path printed), 1 any error (its message on standard error), 2 bad usage, 130
// when Ctrl-C cancelled the check.

#include "CommandLine.hpp"
#include "UpdateCommands.hpp"

namespace {

constexpr const char* overview =
    "usage: autoupdatectl <command> [options] <app-bundle>\n"
    "\n"
    "Commands:\n"
    "  check    check the app's update feed and stage a newer update, installing nothing\n"
    "  install  check, then hand a ready update to the deferred script or the helper\n"
    "  status   show what the update client keeps about the app: last check, skipped\n"
    "           release, rollout group, suppressed update, what is staged\n"
    "\n"
    "Run 'autoupdatectl <command> --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
    using updatecommands::failureStatus;
    return commandline::runCommand("autoupdatectl", overview,
                                   {{"check", {updatecommands::checkUsage, updatecommands::check, failureStatus}},
                                    {"install", {updatecommands::installUsage, updatecommands::install, failureStatus}},
                                    {"status", {updatecommands::statusUsage, updatecommands::status, failureStatus}}},
                                   argc, argv);
}
