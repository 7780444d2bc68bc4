# Every target of the project compiles with the same strict warnings, as errors.
add_library(autoupdatekit_warnings INTERFACE)
target_compile_options(autoupdatekit_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
  -Werror
  # GCC 12 reports std::variant members built from initializer lists as maybe
  # uninitialized at -O2, and "literal" + std::string as an overlapping copy at -O3
  # (known false positives, fixed in GCC 13).
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-maybe-uninitialized -Wno-restrict>)
