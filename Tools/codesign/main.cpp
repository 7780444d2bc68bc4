// codesign: signs bundles and verifies their seals.
//
//   codesign --sign <private-key-file> --team <TEAM> [--deep] [--force] <bundle>
//   codesign --sign - [--deep] [--force] <bundle>            (ad-hoc)
//   codesign --verify [--deep] [--strict] [--verbose=N] <bundle>
//   codesign -d <bundle>                                     (identifier, team, key)
//
// Verification exits 0 exactly when the seal is intact, nested code verifies (--deep),
// no link leaves the bundle (--strict), the signature verifies and the key is trusted
// for its team; otherwise 1 with "<bundle>: <first problem>". Usage errors exit 2.

#include "Platform/CodeSigning.hpp"
#include "Platform/Crypto.hpp"
#include "Platform/FileURL.hpp"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace platform::codesigning;

constexpr const char* usage =
    "usage: codesign --sign <private-key-file> --team <TEAM> [--deep] [--force] <bundle>\n"
    "       codesign --sign - [--deep] [--force] <bundle>\n"
    "       codesign --verify [--deep] [--strict] [--verbose=N] <bundle>\n"
    "       codesign -d <bundle>\n";

struct Options {
    std::optional<std::string> signKey;
    std::optional<std::string> team;
    bool verify = false;
    bool display = false;
    bool deep = false;
    bool strict = false;
    int verbosity = 0;
    std::vector<std::string> paths;
};

std::optional<Options> parse(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        bool hasValue = index + 1 < arguments.size();
        if ((argument == "--sign" || argument == "-s") && hasValue) options.signKey = arguments[++index];
        else if (argument == "--team" && hasValue) options.team = arguments[++index];
        else if (argument == "--verify" || argument == "-v") options.verify = true;
        else if (argument == "-d" || argument == "--display") options.display = true;
        else if (argument == "--deep") options.deep = true;
        else if (argument == "--strict") options.strict = true;
        else if (argument == "--force" || argument == "-f") continue;
        else if (argument.rfind("--verbose", 0) == 0) options.verbosity = argument.size() > 10 ? std::atoi(argument.c_str() + 10) : 1;
        else if (!argument.empty() && argument.front() == '-') return std::nullopt;
        else options.paths.push_back(argument);
    }
    int actions = (options.signKey ? 1 : 0) + (options.verify ? 1 : 0) + (options.display ? 1 : 0);
    if (actions != 1 || options.paths.size() != 1) return std::nullopt;
    bool adHoc = options.signKey && *options.signKey == "-";
    if (options.signKey && !adHoc && !options.team) return std::nullopt;
    if (options.team && (!options.signKey || adHoc)) return std::nullopt;
    return options;
}

int sign(const Options& options, const std::string& bundle) {
    std::optional<SigningIdentity> identity;
    if (*options.signKey != "-") identity = SigningIdentity{platform::readPrivateKeyFile(*options.signKey), *options.team};
    signBundle(bundle, identity, options.deep);
    return 0;
}

int verify(const Options& options, const std::string& bundle) {
    Verification result = verifyBundle(bundle, VerifyOptions{options.deep, options.strict});
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

}  // namespace

int main(int argc, char** argv) {
    auto options = parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!options) {
        std::cerr << usage;
        return 2;
    }
    std::string bundle = platform::FileURL(options->paths.front()).path();
    try {
        if (options->signKey) return sign(*options, bundle);
        if (options->verify) return verify(*options, bundle);
        return display(bundle);
    } catch (const std::exception& error) {
        std::cerr << bundle << ": " << error.what() << "\n";
        return 1;
    }
}
