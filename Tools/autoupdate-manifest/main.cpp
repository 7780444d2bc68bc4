// autoupdate-manifest: the publisher's side of signed update manifests.
//
//   keygen <prefix>                 a key pair: <prefix>.key (0600) and <prefix>.pub
//   make --archive <zip> ...        the payload JSON of a release, to standard output
//   delta --from <old> --to <new> --output <patch>
//   sign --key <keyfile> <payload> [<other channel's payload>]...
//                                   the signed manifest document, to standard output
//   refresh --key <keyfile> <manifest>  the manifest with a new expiry and sequence
//   verify --public-key <pub> <manifest>
//   print [--canonical] <manifest>
//
// Every file argument may be "-" for standard input. "<command> --help" explains one.

#include "CommandLine.hpp"
#include "ManifestCommands.hpp"


namespace {

constexpr const char* overview =
    "usage: autoupdate-manifest <command> [options]\n"
    "\n"
    "Commands:\n"
    "  keygen   make an Ed25519 key pair for signing manifests\n"
    "  make     write the payload of a release, computed from its archive\n"
    "  delta    write the patch that rebuilds a release from an older one\n"
    "  sign     sign a payload and write the manifest document\n"
    "  refresh  re-sign a manifest with a new expiry and sequence number\n"
    "  verify   check a manifest's signature with a public key\n"
    "  print    show a manifest, or its canonical payload bytes\n"
    "\n"
    "Run 'autoupdate-manifest <command> --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
    return commandline::runCommand("autoupdate-manifest", overview,
                                   {{"keygen", manifestcommands::keygen},
                                    {"make", manifestcommands::make},
                                    {"delta", manifestcommands::delta},
                                    {"sign", manifestcommands::sign},
                                    {"refresh", manifestcommands::refresh},
                                    {"verify", manifestcommands::verify},
                                    {"print", manifestcommands::print}},
                                   argc, argv);
}
