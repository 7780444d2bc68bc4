// defaults: reads and writes string keys of a user-defaults domain.
//
//   defaults write <domain> <key> <string>
//   defaults delete <domain> <key>
//   defaults read <domain> [key]
//
// The files are those of the user-defaults store ($HOME/Library/Preferences/<domain>.plist).
// Exit status 0 on success; 1 with "defaults: <reason>" on standard error otherwise
// (a missing key or domain included); 2 with the usage for bad usage.

#include "CommandLine.hpp"

#include "Platform/PropertyList.hpp"
#include "Platform/UserDefaults.hpp"

#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: defaults write <domain> <key> <string>\n"
    "       defaults delete <domain> <key>\n"
    "       defaults read <domain> [key]\n";

int read(const platform::UserDefaults& defaults, const std::vector<std::string>& arguments) {
    if (arguments.size() == 2) {
        platform::PropertyDictionary values = defaults.dictionary();
        if (values.empty()) throw std::runtime_error("domain " + defaults.domain() + " does not exist");
        std::cout << platform::PropertyList::xml(platform::PropertyValue(values));
        return 0;
    }
    auto value = defaults.object(arguments[2]);
    if (!value) throw std::runtime_error("key " + arguments[2] + " does not exist in domain " + defaults.domain());
    if (const auto* text = value->getIf<std::string>()) std::cout << *text << "\n";
    else std::cout << platform::PropertyList::xml(*value);
    return 0;
}

int run(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2) throw commandline::UsageError("give a verb and a domain");
    const std::string& verb = arguments[0];
    platform::UserDefaults defaults(arguments[1]);
    if (verb == "write" && arguments.size() == 4) {
        defaults.set(arguments[2], platform::PropertyValue(arguments[3]));
        return 0;
    }
    if (verb == "delete" && arguments.size() == 3) {
        if (!defaults.object(arguments[2])) {
            throw std::runtime_error("key " + arguments[2] + " does not exist in domain " + defaults.domain());
        }
        defaults.removeObject(arguments[2]);
        return 0;
    }
    if (verb == "read" && arguments.size() <= 3) return read(defaults, arguments);
    throw commandline::UsageError("unknown verb or wrong number of arguments for " + verb);
}

}  // namespace

int main(int argc, char** argv) { return commandline::runProgram("defaults", {usage, run, 1}, argc, argv); }
