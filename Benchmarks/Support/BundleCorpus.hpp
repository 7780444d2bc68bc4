#pragma once
// Generated benchmark data: a large application bundle and its zip, made once per run
// in a folder under /tmp (a private tmpfs when run as root) and removed at exit.
// Nothing is committed.

#include <benchmark/benchmark.h>

#include <string>

namespace bench {

struct BundleCorpus {
    std::string folder;   // scratch folder for the run
    std::string bundle;   // <folder>/Large.app: 5,000 files, 200 MiB, ad-hoc sealed
    std::string archive;  // <folder>/Large.zip, made with ditto -c -k --keepParent
    bool onTmpfs = false;  // the folder is a private tmpfs mount (when run as root)
};

// Builds the corpus on first use.
const BundleCorpus& largeBundle();

// The floor of an install: `cp -a` of the corpus bundle, then as many
// `codesign --verify --deep --strict` runs of the copy as the install makes.
void copyAndVerifyFloor(benchmark::State& state, int codesignRuns);

}  // namespace bench
