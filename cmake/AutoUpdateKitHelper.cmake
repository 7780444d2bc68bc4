# autoupdatekit_add_privileged_helper(<target> INFO_PLIST <file> LAUNCHD_PLIST <file>
#                                     [OUTPUT_DIRECTORY <folder>])
#
# Makes the app's privileged helper, named <target>, with `autoupdate-helper make`:
# the generic helper with the app's policy (INFO_PLIST) and launchd job (LAUNCHD_PLIST)
# embedded, both checked first. The helper lands in OUTPUT_DIRECTORY (by default
# CMAKE_RUNTIME_OUTPUT_DIRECTORY, else PrivilegedHelpers/ in the current binary folder); its path is the
# target's AUTOUPDATEKIT_HELPER_FILE property. Ship it in the app bundle as
# Contents/Library/LaunchServices/<label>.
#
# Needs AutoUpdateKit::autoupdate-helper and AUTOUPDATEKIT_GENERIC_HELPER (the generic
# helper, for the dependency), which the package config and the project both set.
function(autoupdatekit_add_privileged_helper target)
  cmake_parse_arguments(PARSE_ARGV 1 HELPER "" "INFO_PLIST;LAUNCHD_PLIST;OUTPUT_DIRECTORY" "")
  if(NOT HELPER_INFO_PLIST OR NOT HELPER_LAUNCHD_PLIST)
    message(FATAL_ERROR "autoupdatekit_add_privileged_helper(${target}) needs INFO_PLIST and LAUNCHD_PLIST")
  endif()
  if(NOT HELPER_OUTPUT_DIRECTORY)
    if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
      set(HELPER_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    else()
      # A folder of its own: the helper's file may not share the target's name there.
      set(HELPER_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/PrivilegedHelpers)
    endif()
  endif()
  get_filename_component(info ${HELPER_INFO_PLIST} ABSOLUTE)
  get_filename_component(launchd ${HELPER_LAUNCHD_PLIST} ABSOLUTE)
  set(helper ${HELPER_OUTPUT_DIRECTORY}/${target})
  add_custom_command(OUTPUT ${helper}
    COMMAND AutoUpdateKit::autoupdate-helper make --info-plist ${info} --launchd-plist ${launchd} --output ${helper}
    DEPENDS AutoUpdateKit::autoupdate-helper ${AUTOUPDATEKIT_GENERIC_HELPER} ${info} ${launchd}
    COMMENT "Making the privileged helper ${target}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${helper})
  set_target_properties(${target} PROPERTIES AUTOUPDATEKIT_HELPER_FILE ${helper})
endfunction()
