#include "CommandLine.hpp"

#include "Platform/FileSystem.hpp"

#include <iostream>

namespace commandline {
namespace {

int reportUsage(const std::string& program, const std::string& reason, const std::string& usage) {
    std::cerr << program << ": " << reason << "\n" << usage;
    return usageStatus;
}

bool asksForHelp(const std::vector<std::string>& arguments) {
    return !arguments.empty() && (arguments[0] == "-h" || arguments[0] == "--help");
}

int runReportingFailures(const std::string& program, const Command& command, const std::vector<std::string>& arguments) {
    try {
        return command.run(arguments);
    } catch (const UsageError& error) {
        return reportUsage(program, error.what(), command.usage);
    } catch (const std::exception& error) {
        std::cerr << program << ": " << error.what() << "\n";
        return command.failureStatus;
    }
}

}  // namespace

std::optional<std::string> ParsedArguments::value(const std::string& name) const {
    auto found = values.find(name);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
}

std::string ParsedArguments::required(const std::string& name) const {
    auto found = value(name);
    if (!found) throw UsageError("missing " + name);
    return *found;
}

ParsedArguments parse(const std::vector<std::string>& arguments, const std::set<std::string>& valueOptions,
                      const std::set<std::string>& flagOptions) {
    ParsedArguments parsed;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument.size() < 2 || argument[0] != '-') {
            parsed.positionals.push_back(argument);
        } else if (valueOptions.count(argument)) {
            if (index + 1 >= arguments.size()) throw UsageError(argument + " needs a value");
            if (!parsed.values.emplace(argument, arguments[++index]).second) throw UsageError(argument + " given twice");
        } else if (flagOptions.count(argument)) {
            parsed.flags.insert(argument);
        } else {
            throw UsageError("unknown option " + argument);
        }
    }
    return parsed;
}

std::vector<std::string> takeRepeatedOption(std::vector<std::string>& arguments, const std::string& name) {
    std::vector<std::string> values;
    for (auto argument = arguments.begin(); argument != arguments.end();) {
        if (*argument != name) {
            ++argument;
            continue;
        }
        if (argument + 1 == arguments.end()) throw UsageError(name + " needs a value");
        values.push_back(*(argument + 1));
        argument = arguments.erase(argument, argument + 2);
    }
    return values;
}

std::string readInput(const std::string& path) { return platform::readWholeFile(path == "-" ? "/dev/stdin" : path); }

std::string versionLine(const std::string& program) { return program + " " + AUTOUPDATEKIT_VERSION; }

std::optional<int> answerStandardOption(const std::string& program, const std::string& usage,
                                        const std::vector<std::string>& arguments) {
    if (asksForHelp(arguments)) {
        std::cout << usage;
        return 0;
    }
    if (arguments.empty() || arguments[0] != "--version") return std::nullopt;
    std::cout << versionLine(program) << "\n";
    return 0;
}

int runProgram(const std::string& program, const Command& command, int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (auto answered = answerStandardOption(program, command.usage, arguments)) return *answered;
    return runReportingFailures(program, command, arguments);
}

int runCommand(const std::string& program, const std::string& overview, const std::map<std::string, Command>& commands,
               int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) return reportUsage(program, "no command given", overview);
    if (arguments[0] == "help") arguments[0] = "--help";
    if (auto answered = answerStandardOption(program, overview, arguments)) return *answered;
    auto found = commands.find(arguments[0]);
    if (found == commands.end()) return reportUsage(program, "unknown command " + arguments[0], overview);
    arguments.erase(arguments.begin());
    const Command& command = found->second;
    if (asksForHelp(arguments)) {
        std::cout << command.usage;
        return 0;
    }
    return runReportingFailures(program + " " + found->first, command, arguments);
}

}  // namespace commandline
