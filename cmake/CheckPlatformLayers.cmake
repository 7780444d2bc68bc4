# Fails when a platform layer includes a header of a layer it does not link, so the
# folders of Sources/Platform stay the layers the build says they are.
#
#   cmake -DPLATFORM_DIR=<Sources/Platform> -P CheckPlatformLayers.cmake \
#     <layer>=<layer>,<linked layer>... ...
#
# A header belongs to the layer whose include/ holds it, or whose folder holds the
# <header>.in it is configured from.

cmake_minimum_required(VERSION 3.25)

set(rules)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(index RANGE 1 ${last})
  if(CMAKE_ARGV${index} MATCHES "^[A-Za-z]+=[A-Za-z,]+$")
    list(APPEND rules ${CMAKE_ARGV${index}})
  endif()
endforeach()
if(NOT rules)
  message(FATAL_ERROR "no layers given")
endif()

set(layers)
foreach(rule ${rules})
  string(REGEX REPLACE "=.*" "" layer ${rule})
  string(REGEX REPLACE ".*=" "" allowed ${rule})
  string(REPLACE "," ";" allowed_${layer} ${allowed})
  list(APPEND layers ${layer})
  file(GLOB_RECURSE headers RELATIVE ${PLATFORM_DIR}/${layer}/include ${PLATFORM_DIR}/${layer}/include/*)
  file(GLOB templates RELATIVE ${PLATFORM_DIR}/${layer} ${PLATFORM_DIR}/${layer}/*.in)
  list(TRANSFORM templates REPLACE "\\.in$" "")
  list(TRANSFORM templates PREPEND "Platform/")
  foreach(header ${headers} ${templates})
    set("owner_${header}" ${layer})
  endforeach()
endforeach()

set(faults)
file(GLOB_RECURSE sources RELATIVE ${PLATFORM_DIR} ${PLATFORM_DIR}/*.cpp ${PLATFORM_DIR}/*.hpp ${PLATFORM_DIR}/*.in)
foreach(source ${sources})
  string(REGEX REPLACE "/.*" "" layer ${source})
  if(NOT layer IN_LIST layers)
    list(APPEND faults "${source} lies in no layer")
    continue()
  endif()
  file(STRINGS ${PLATFORM_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]Platform/")
  foreach(line ${includes})
    string(REGEX REPLACE ".*[\"<](Platform/[^\">]+)[\">].*" "\\1" header "${line}")
    set(owner "${owner_${header}}")
    if(NOT owner)
      list(APPEND faults "${source} includes ${header}, which no layer holds")
    elseif(NOT owner IN_LIST allowed_${layer})
      list(JOIN allowed_${layer} ", " allowed)
      list(APPEND faults "${source} includes ${header} of ${owner}, but ${layer} may include only ${allowed}")
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Platform layers include what they do not link:\n  ${text}")
endif()
list(LENGTH sources count)
message(STATUS "${count} files of the platform layers include only what their layers link")
