// autoupdate-helper: makes an app's privileged helper from the installed generic one.
//
//   make --info-plist <file> --launchd-plist <file> --output <path>
//   print <helper>
//   install <helper>      (root)
//   uninstall <label>     (root)

#include "CommandLine.hpp"
#include "HelperCommands.hpp"

namespace {

constexpr const char* overview =
    "usage: autoupdate-helper <command> [options]\n"
    "\n"
    "Commands:\n"
    "  make       write a privileged helper for an app's policy\n"
    "  print      show the policy embedded in a helper\n"
    "  install    install a helper for the whole system (root)\n"
    "  uninstall  remove an installed helper (root)\n"
    "\n"
    "Run 'autoupdate-helper <command> --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
    return commandline::runCommand("autoupdate-helper", overview,
                                   {{"make", helpertool::make},
                                    {"print", helpertool::print},
                                    {"install", helpertool::install},
                                    {"uninstall", helpertool::uninstall}}, argc, argv);
}
