# The platform tools install under libexec/autoupdatekit; the library and the programs
# find them relative to their own installed place (Platform/ToolPaths.hpp), and use the
# configured folder only when that place has none: an app linked statically. Test
# builds point it at the build tree's own libexec folder.
set(AUTOUPDATEKIT_TOOL_DIR "${CMAKE_INSTALL_FULL_LIBEXECDIR}/autoupdatekit"
    CACHE PATH "Folder of the codesign, ditto, open, defaults and launchctl tools when no installed tree holds the code")
set(AUTOUPDATEKIT_TRUST_STORE_DIR "/etc/autoupdatekit/trusted-teams"
    CACHE PATH "Folder of trusted team keys")
file(RELATIVE_PATH AUTOUPDATEKIT_TOOLS_FROM_LIBDIR ${CMAKE_INSTALL_FULL_LIBDIR} ${CMAKE_INSTALL_FULL_LIBEXECDIR}/autoupdatekit)
file(RELATIVE_PATH AUTOUPDATEKIT_TOOLS_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBEXECDIR}/autoupdatekit)
# The build tree's programs (bin/) find the tools the way installed ones do.
set(AUTOUPDATEKIT_BUILD_TOOL_DIR ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBEXECDIR}/autoupdatekit)
