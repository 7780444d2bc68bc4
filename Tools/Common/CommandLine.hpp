#pragma once
// Option parsing and input reading shared by the project's command-line programs.

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace commandline {

// Every program's exit status for bad usage.
inline constexpr int usageStatus = 2;

// Bad usage: the program prints the message and its usage, and exits usageStatus.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ParsedArguments {
    std::map<std::string, std::string> values;  // "--name value" options
    std::set<std::string> flags;                // "--name" options without a value
    std::vector<std::string> positionals;

    bool has(const std::string& flag) const { return flags.count(flag) != 0; }
    std::optional<std::string> value(const std::string& name) const;
    std::string required(const std::string& name) const;
};

// Options in valueOptions take the next argument; those in flagOptions stand alone.
// Anything else starting with "--" is a UsageError; "-" alone is a positional.
ParsedArguments parse(const std::vector<std::string>& arguments, const std::set<std::string>& valueOptions,
                      const std::set<std::string>& flagOptions);

// Takes every "<name> VALUE" out of the arguments, for an option that repeats; the
// values in order.
std::vector<std::string> takeRepeatedOption(std::vector<std::string>& arguments, const std::string& name);

// The file's bytes, or standard input's for "-".
std::string readInput(const std::string& path);

// "<program> <version>", the project's version as CMake knows it.
std::string versionLine(const std::string& program);

// Answers the options every program takes as its first argument: "-h" or "--help"
// prints the usage and "--version" the version line, both on standard output, with
// exit status 0. Nothing for any other first argument, which is the program's to read.
std::optional<int> answerStandardOption(const std::string& program, const std::string& usage,
                                        const std::vector<std::string>& arguments);

struct Command {
    const char* usage;
    int (*run)(const std::vector<std::string>& arguments);
    // Exit status for a failure other than bad usage.
    int failureStatus;
};

// Runs a program of one command: the standard options are answered first; a UsageError
// prints "<program>: <reason>" and the usage on standard error and exits usageStatus;
// any other failure prints "<program>: <reason>" on standard error and exits with the
// command's failure status.
int runProgram(const std::string& program, const Command& command, int argc, char** argv);

// Runs "<program> <command> [arguments]" as runProgram runs "<program> <command>",
// except that "--version" is the program's alone; the standard options or "help"
// before a command answer with the overview, and a missing or unknown command is bad
// usage reported with the overview.
int runCommand(const std::string& program, const std::string& overview, const std::map<std::string, Command>& commands,
               int argc, char** argv);

}  // namespace commandline
