# Every target of the project compiles with the same strict warnings, as errors.
add_library(autoupdatekit_warnings INTERFACE)
target_compile_options(autoupdatekit_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
  -Werror)
