#include "CommandLine.hpp"

#include "Platform/FileSystem.hpp"

#include <iostream>

namespace commandline {
namespace {

int reportUsage(const std::string& program, const std::string& reason, const std::string& usage) {
    std::cerr << program << ": " << reason << "\n" << usage;
    return usageStatus;
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

std::string readInput(const std::string& path) { return platform::readWholeFile(path == "-" ? "/dev/stdin" : path); }

int runProgram(const std::string& program, const Command& command, const std::vector<std::string>& arguments) {
    if (!arguments.empty() && arguments[0] == "--help") {
        std::cout << command.usage;
        return 0;
    }
    try {
        return command.run(arguments);
    } catch (const UsageError& error) {
        return reportUsage(program, error.what(), command.usage);
    } catch (const std::exception& error) {
        std::cerr << program << ": " << error.what() << "\n";
        return command.failureStatus;
    }
}

int runProgram(const std::string& program, const Command& command, int argc, char** argv) {
    return runProgram(program, command, std::vector<std::string>(argv + 1, argv + argc));
}

int runCommand(const std::string& program, const std::string& overview, const std::map<std::string, Command>& commands,
               int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) return reportUsage(program, "no command given", overview);
    if (arguments[0] == "--help" || arguments[0] == "help") {
        std::cout << overview;
        return 0;
    }
    auto found = commands.find(arguments[0]);
    if (found == commands.end()) return reportUsage(program, "unknown command " + arguments[0], overview);
    arguments.erase(arguments.begin());
    return runProgram(program + " " + found->first, found->second, arguments);
}

}  // namespace commandline
