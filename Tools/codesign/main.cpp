// codesign: signs bundles and verifies their seals.
//
//   codesign --sign <private-key-file> --team <TEAM> [--deep] [--force] <bundle>
//   codesign --sign - [--deep] [--force] <bundle>            (ad-hoc)
//   codesign --verify [--deep] [--strict] [--verbose=N] [--trusted-key <public-key-file>] <bundle>
//   codesign -d <bundle>                                     (identifier, team, key)
//
// Verification exits 0 exactly when the seal is intact, nested code verifies (--deep),
// no link leaves the bundle (--strict), the signature verifies and the key is trusted
// for its team; otherwise 1 with "<bundle>: <first problem>". --trusted-key lets a
// publisher check a build on a machine whose trust store does not list the team, and
// without root: that key counts as trusted for this run only. The client and the helper
// run codesign with fixed arguments and never pass it. Bad usage exits 2.

#include "CommandLine.hpp"

#include "Platform/CodeSigning.hpp"
#include "Platform/FileURL.hpp"
#include "Platform/KeyFile.hpp"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace platform::codesigning;
using commandline::UsageError;

constexpr const char* usage =
    "usage: codesign --sign <private-key-file> --team <TEAM> [--deep] [--force] <bundle>\n"
    "       codesign --sign - [--deep] [--force] <bundle>\n"
    "       codesign --verify [--deep] [--strict] [--verbose=N] [--trusted-key <public-key-file>] <bundle>\n"
    "       codesign -d <bundle>\n"
    "A private key file is PKCS#8 PEM or base64; a public key file base64 or PEM.\n"
    "--trusted-key trusts that key for the bundle's team for this run only, besides the\n"
    "machine's trust store.\n";

struct Options {
    std::optional<std::string> signKey;
    std::optional<std::string> team;
    std::optional<std::string> trustedKey;
    bool verify = false;
    bool display = false;
    bool deep = false;
    bool strict = false;
    int verbosity = 0;
    std::vector<std::string> paths;
};

Options parse(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        bool takesValue = argument == "--sign" || argument == "-s" || argument == "--team" || argument == "--trusted-key";
        if (takesValue && index + 1 == arguments.size()) throw UsageError(argument + " needs a value");
        if (argument == "--sign" || argument == "-s") options.signKey = arguments[++index];
        else if (argument == "--team") options.team = arguments[++index];
        else if (argument == "--trusted-key") options.trustedKey = arguments[++index];
        else if (argument == "--verify" || argument == "-v") options.verify = true;
        else if (argument == "-d" || argument == "--display") options.display = true;
        else if (argument == "--deep") options.deep = true;
        else if (argument == "--strict") options.strict = true;
        else if (argument == "--force" || argument == "-f") continue;
        else if (argument.rfind("--verbose", 0) == 0) options.verbosity = argument.size() > 10 ? std::atoi(argument.c_str() + 10) : 1;
        else if (!argument.empty() && argument.front() == '-') throw UsageError("unknown option " + argument);
        else options.paths.push_back(argument);
    }
    int actions = (options.signKey ? 1 : 0) + (options.verify ? 1 : 0) + (options.display ? 1 : 0);
    if (actions != 1) throw UsageError("give exactly one of --sign, --verify and -d");
    if (options.paths.size() != 1) throw UsageError("give exactly one bundle");
    bool adHoc = options.signKey && *options.signKey == "-";
    if (options.signKey && !adHoc && !options.team) throw UsageError("a key signs for a team: add --team");
    if (options.team && (!options.signKey || adHoc)) throw UsageError("--team goes with --sign <private-key-file>");
    if (options.trustedKey && !options.verify) throw UsageError("--trusted-key goes with --verify");
    return options;
}

int verify(const Options& options, const std::string& bundle, const VerifyOptions& verifyOptions) {
    Verification result = verifyBundle(bundle, verifyOptions);
    if (!result.valid()) {
        std::cerr << bundle << ": " << result.problem << "\n";
        return 1;
    }
    if (options.verbosity > 0) {
        std::cerr << bundle << ": valid on disk\n";
        std::cerr << bundle << ": satisfies its seal\n";
    }
    return 0;
}

int display(const std::string& bundle) {
    Verification read = readSeal(bundle);
    if (!read.valid()) {
        std::cerr << bundle << ": " << read.problem << "\n";
        return 1;
    }
    const CodeSeal& seal = *read.seal;
    std::cout << "Executable=" << bundle << "\n"
              << "Identifier=" << seal.identifier << "\n"
              << "TeamIdentifier=" << seal.teamIdentifier.value_or("not set") << "\n"
              << "Signature=" << (seal.teamIdentifier ? "Ed25519" : "adhoc") << "\n";
    if (seal.publicKey) std::cout << "PublicKey=" << platform::base64Encode(*seal.publicKey) << "\n";
    std::cout << "Sealed Resources=" << seal.entries.size() << " entries, " << seal.nested.size() << " nested\n";
    return 0;
}

int run(const std::vector<std::string>& arguments) {
    Options options = parse(arguments);
    // Key files are read first: a wrong key is the key's fault, and touches no bundle.
    std::optional<SigningIdentity> identity;
    if (options.signKey && *options.signKey != "-") {
        identity = SigningIdentity{platform::readPrivateKeyFile(*options.signKey), *options.team};
    }
    VerifyOptions verifyOptions{options.deep, options.strict, std::nullopt};
    if (options.trustedKey) verifyOptions.extraTrustedKey = platform::readPublicKeyFile(*options.trustedKey).raw();

    std::string bundle = platform::FileURL(options.paths.front()).path();
    try {
        if (options.signKey) {
            signBundle(bundle, identity, options.deep);
            return 0;
        }
        if (options.verify) return verify(options, bundle, verifyOptions);
        return display(bundle);
    } catch (const std::exception& error) {
        std::cerr << bundle << ": " << error.what() << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) { return commandline::runProgram("codesign", {usage, run, 1}, argc, argv); }
