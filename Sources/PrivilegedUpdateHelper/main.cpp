#include "PrivilegedUpdateHelperMain.hpp"

#include "CommandLine.hpp"

namespace {

constexpr const char* usage =
    "usage: PrivilegedUpdateHelper\n"
    "An app's privileged update helper, made by 'autoupdate-helper make'. Its supervisor\n"
    "(launchd's stand-in or systemd) starts it as root on its service's socket; it reads\n"
    "the policy embedded in it and installs the updates its app asks for.\n";

}  // namespace

// The standard options are answered before the policy is read, so even the generic
// helper, which carries none, says what it is.
int main(int argc, char** argv) {
    if (auto answered = commandline::answerStandardOption("PrivilegedUpdateHelper", usage, {argv + 1, argv + argc})) {
        return *answered;
    }
    privilegedhelper::PrivilegedUpdateHelperMain::run();
}
