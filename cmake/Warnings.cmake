# Every target of the project compiles with the same strict warnings. They are errors
# where the compiler is known (the presets and CI); a plain build with another
# compiler or optimisation level only reports them, so a new false positive never
# stops someone from building.
option(AUTOUPDATEKIT_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

add_library(autoupdatekit_warnings INTERFACE)
target_compile_options(autoupdatekit_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
  $<$<BOOL:${AUTOUPDATEKIT_WARNINGS_AS_ERRORS}>:-Werror>
  # GCC 12 reports std::variant members built from initializer lists as maybe
  # uninitialized at -O2, and "literal" + std::string as an overlapping copy at -O3
  # (known false positives, fixed in GCC 13).
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-maybe-uninitialized -Wno-restrict>)
