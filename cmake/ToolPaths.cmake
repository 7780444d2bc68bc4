# The platform tools run by absolute paths fixed at build time. Installed builds use
# the project's own stand-ins under libexec; test builds point at the build tree.
set(AUTOUPDATEKIT_TOOL_DIR "${CMAKE_INSTALL_FULL_LIBEXECDIR}/autoupdatekit"
    CACHE PATH "Folder that holds the codesign, ditto, open, defaults and launchctl tools")
set(AUTOUPDATEKIT_TRUST_STORE_DIR "/etc/autoupdatekit/trusted-teams"
    CACHE PATH "Folder of trusted team keys")
foreach(tool codesign ditto open defaults launchctl)
  string(TOUPPER ${tool} upper)
  set(AUTOUPDATEKIT_${upper}_PATH "${AUTOUPDATEKIT_TOOL_DIR}/${tool}"
      CACHE FILEPATH "Absolute path of the ${tool} tool")
endforeach()
# What the administrator prompt runs as root to install an app's helper; the polkit
# action names this path.
set(AUTOUPDATEKIT_BLESS_PATH "${AUTOUPDATEKIT_TOOL_DIR}/autoupdatekit-bless"
    CACHE FILEPATH "Absolute path of the helper-installing tool the administrator prompt runs")
