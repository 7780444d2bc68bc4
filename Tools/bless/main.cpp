// autoupdatekit-bless: installs an app's privileged helper for the whole system. It is
// what the administrator prompt runs as root (through pkexec) when an ordinary user's
// app must install its helper, and it makes every check of blessing itself, as root:
// the label, the helper inside the app, the app's signature and the helper's
// requirement.
//
//   autoupdatekit-bless <label> <app>

#include "CommandLine.hpp"

#include "Platform/FileURL.hpp"
#include "Platform/ServiceManagement.hpp"

#include <iostream>
#include <stdexcept>
#include <unistd.h>

namespace {

namespace servicemanagement = platform::servicemanagement;

constexpr const char* usage =
    "usage: autoupdatekit-bless <label> <app>\n"
    "  As root: installs the privileged helper <label> of the app at <app> and starts\n"
    "  serving it, after checking the app and its helper as blessing does.\n";

int run(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) throw commandline::UsageError("expected a label and an app");
    if (::geteuid() != 0) throw std::runtime_error("installing a helper needs root");
    std::optional<servicemanagement::Authorization> authorization;
    servicemanagement::Authorization::create(0, authorization);
    std::optional<std::string> error;
    if (!servicemanagement::jobBless(arguments[0], platform::FileURL(arguments[1]), *authorization, error)) {
        throw std::runtime_error(error.value_or("the helper could not be installed"));
    }
    std::cout << "Installed the privileged helper " << arguments[0] << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return commandline::runProgram("autoupdatekit-bless", {usage, run, 1}, argc, argv); }
