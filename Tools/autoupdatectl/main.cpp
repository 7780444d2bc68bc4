// autoupdatectl: shows what an app's update feed does to the installed app, the way
// the app itself would see it.
//
//   autoupdatectl check [--json] <app-bundle>
//   autoupdatectl install [--privileged] <app-bundle>
//
// Exit status: 0 up to date (or the update is suppressed), 3 update ready (the staged
// app's path printed), 1 any error (its message printed), 2 bad usage.

#include "CommandLine.hpp"
#include "UpdateCommands.hpp"

#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr const char* overview =
    "usage: autoupdatectl <command> [options] <app-bundle>\n"
    "\n"
    "Commands:\n"
    "  check    check the app's update feed and stage a newer update, installing nothing\n"
    "  install  check, then hand a ready update to the deferred script or the helper\n"
    "\n"
    "Run 'autoupdatectl <command> --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "help") {
        std::cout << overview;
        return arguments.empty() ? 2 : 0;
    }
    struct Command {
        const char* usage;
        int (*run)(const std::vector<std::string>&);
    };
    const std::map<std::string, Command> commands = {{"check", {updatecommands::checkUsage, updatecommands::check}},
                                                     {"install", {updatecommands::installUsage, updatecommands::install}}};
    auto found = commands.find(arguments[0]);
    if (found == commands.end()) {
        std::cerr << "autoupdatectl: unknown command " << arguments[0] << "\n" << overview;
        return 2;
    }
    arguments.erase(arguments.begin());
    if (!arguments.empty() && arguments[0] == "--help") {
        std::cout << found->second.usage;
        return 0;
    }
    try {
        return found->second.run(arguments);
    } catch (const commandline::UsageError& error) {
        std::cerr << "autoupdatectl " << found->first << ": " << error.what() << "\n" << found->second.usage;
        return 2;
    }
}
