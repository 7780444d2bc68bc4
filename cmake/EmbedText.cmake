# Writes OUTPUT, a header holding the bytes of the file INPUT as the std::string_view
# NAME in namespace NAMESPACE, so that a text the library runs (a shell script) stays a
# real file in the tree. Run at build time: cmake -DINPUT=... -DOUTPUT=... -DNAME=...
# -DNAMESPACE=... -P EmbedText.cmake. The header is rewritten only when it changes.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," characters "${hex}")
# One line of the header for each line of the text.
string(REPLACE "'\\x0a'," "'\\x0a',\n    " characters "${characters}")
get_filename_component(input_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.new" "#pragma once
// Generated at build time from ${input_name}; edit that file, not this one.

#include <string_view>

namespace ${NAMESPACE} {

inline constexpr char ${NAME}Characters[] = {
    ${characters}};
inline constexpr std::string_view ${NAME}{${NAME}Characters, sizeof ${NAME}Characters};

}  // namespace ${NAMESPACE}
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
