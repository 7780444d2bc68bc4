// ditto: copies bundle trees and makes or unpacks PKZip archives.
//
//   ditto <source> <destination>               copy a tree; destination must not exist
//   ditto -x -k <archive.zip> <folder>         unpack into an existing folder
//   ditto -c -k [--keepParent] <source> <zip>  make an archive
//
// Exit status 0 on success; 1 with "ditto: <reason>" on standard error otherwise; 2 with
// the usage for bad usage.

#include "ArchiveSupport.hpp"
#include "TreeCopy.hpp"
#include "ZipArchive.hpp"

#include "CommandLine.hpp"

#include <string>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: ditto <source> <destination>\n"
    "       ditto -x -k <archive.zip> <folder>\n"
    "       ditto -c -k [--keepParent] <source> <archive.zip>\n";

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

int run(const std::vector<std::string>& arguments) {
    bool extract = false;
    bool create = false;
    bool zip = false;
    bool keepParent = false;
    std::vector<std::string> paths;
    for (const auto& argument : arguments) {
        if (argument == "-x") extract = true;
        else if (argument == "-c") create = true;
        else if (argument == "-k") zip = true;
        else if (argument == "--keepParent") keepParent = true;
        else if (!argument.empty() && argument.front() == '-') throw commandline::UsageError("unknown option " + argument);
        else paths.push_back(withoutTrailingSlashes(argument));
    }
    bool copy = !extract && !create && !zip && !keepParent;
    bool archive = (extract != create) && zip && !(extract && keepParent);
    if (paths.size() != 2) throw commandline::UsageError("give a source and a destination");
    if (!copy && !archive) throw commandline::UsageError("give -x -k or -c -k [--keepParent], or no option to copy");
    if (copy) ditto::copyTree(paths[0], paths[1]);
    else if (extract) ditto::extractZip(paths[0], paths[1]);
    else ditto::createZip(paths[0], paths[1], keepParent);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return commandline::runProgram("ditto", {usage, run, 1}, argc, argv); }
