// autoupdate-manifest: the publisher's side of signed update manifests.
//
//   keygen <prefix>                 a key pair: <prefix>.key (0600) and <prefix>.pub
//   make --archive <zip> ...        the payload JSON of a release, to standard output
//   sign --key <keyfile> <payload>  the signed manifest document, to standard output
//   verify --public-key <pub> <manifest>
//   print [--canonical] <manifest>
//
// Every file argument may be "-" for standard input. "<command> --help" explains one.

#include "CommandLine.hpp"
#include "ManifestCommands.hpp"

#include <iostream>
#include <map>

namespace {

constexpr const char* overview =
    "usage: autoupdate-manifest <command> [options]\n"
    "\n"
    "Commands:\n"
    "  keygen   make an Ed25519 key pair for signing manifests\n"
    "  make     write the payload of a release, computed from its archive\n"
    "  sign     sign a payload and write the manifest document\n"
    "  verify   check a manifest's signature with a public key\n"
    "  print    show a manifest, or its canonical payload bytes\n"
    "\n"
    "Run 'autoupdate-manifest <command> --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
    const std::map<std::string, const manifestcommands::Command*> commands = {
        {"keygen", &manifestcommands::keygen}, {"make", &manifestcommands::make}, {"sign", &manifestcommands::sign},
        {"verify", &manifestcommands::verify}, {"print", &manifestcommands::print},
    };
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "help") {
        std::cout << overview;
        return arguments.empty() ? 2 : 0;
    }
    auto found = commands.find(arguments[0]);
    if (found == commands.end()) {
        std::cerr << "autoupdate-manifest: unknown command " << arguments[0] << "\n" << overview;
        return 2;
    }
    const auto& command = *found->second;
    arguments.erase(arguments.begin());
    if (!arguments.empty() && arguments[0] == "--help") {
        std::cout << command.usage;
        return 0;
    }
    try {
        return command.run(arguments);
    } catch (const commandline::UsageError& error) {
        std::cerr << "autoupdate-manifest " << found->first << ": " << error.what() << "\n" << command.usage;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "autoupdate-manifest " << found->first << ": " << error.what() << "\n";
        return command.failureStatus;
    }
}
