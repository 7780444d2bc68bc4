# What `cmake --install` puts where, the CMake package, pkg-config and the Debian package.
#
# The installed client library is made from the objects already built for the
# project's own targets: libautoupdatekit.so (versioned) links the module and the
# platform layer whole, and libautoupdatekit.a merges their archives.

set(AUTOUPDATEKIT_SOVERSION 0)

add_library(autoupdatekit SHARED ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
target_link_options(autoupdatekit PRIVATE
  -Wl,--whole-archive $<TARGET_FILE:AutoUpdateKit> $<TARGET_FILE:Platform> -Wl,--no-whole-archive)
set_property(TARGET autoupdatekit APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:AutoUpdateKit> $<TARGET_FILE:Platform>)
add_dependencies(autoupdatekit AutoUpdateKit Platform)
target_link_libraries(autoupdatekit PRIVATE OpenSSL::Crypto CURL::libcurl PkgConfig::PLIST PkgConfig::UUID PkgConfig::ICU Threads::Threads)
set_target_properties(autoupdatekit PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${AUTOUPDATEKIT_SOVERSION})

set(combined_archive ${CMAKE_BINARY_DIR}/libautoupdatekit.a)
set(archive_script ${CMAKE_BINARY_DIR}/libautoupdatekit.mri)
file(GENERATE OUTPUT ${archive_script} CONTENT
  "CREATE ${combined_archive}\nADDLIB $<TARGET_FILE:AutoUpdateKit>\nADDLIB $<TARGET_FILE:Platform>\nSAVE\nEND\n")
add_custom_command(OUTPUT ${combined_archive}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${combined_archive}
  COMMAND ${CMAKE_COMMAND} -DAR=${CMAKE_AR} -DSCRIPT=${archive_script} -P ${PROJECT_SOURCE_DIR}/cmake/MergeArchives.cmake
  DEPENDS AutoUpdateKit Platform ${archive_script}
  COMMENT "Merging the static client library")
add_custom_target(autoupdatekit_static ALL DEPENDS ${combined_archive})

install(TARGETS autoupdatekit LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${combined_archive} DESTINATION ${CMAKE_INSTALL_LIBDIR})

# Public headers, and the platform headers they include, under include/AutoUpdateKit.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/Sources/AutoUpdateKit/include/AutoUpdateKit
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(header Bundle.hpp FileURL.hpp HTTPSession.hpp PropertyList.hpp WebURL.hpp IPC/KeyedArchive.hpp)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/Sources/Platform/include/Platform/${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/AutoUpdateKit/Platform/${folder})
endforeach()

include(CMakePackageConfigHelpers)
set(config_folder ${CMAKE_INSTALL_LIBDIR}/cmake/AutoUpdateKit)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/AutoUpdateKitConfig.cmake.in
  ${CMAKE_BINARY_DIR}/AutoUpdateKitConfig.cmake INSTALL_DESTINATION ${config_folder}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/AutoUpdateKitConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/AutoUpdateKitConfig.cmake ${CMAKE_BINARY_DIR}/AutoUpdateKitConfigVersion.cmake
  DESTINATION ${config_folder})

configure_file(${PROJECT_SOURCE_DIR}/cmake/autoupdatekit.pc.in ${CMAKE_BINARY_DIR}/autoupdatekit.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/autoupdatekit.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/app-makers.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/autoupdatekit)

# Every public header compiles on its own.
set(header_checks)
file(GLOB public_headers ${PROJECT_SOURCE_DIR}/Sources/AutoUpdateKit/include/AutoUpdateKit/*)
foreach(header ${public_headers})
  get_filename_component(name ${header} NAME_WE)
  set(source ${CMAKE_BINARY_DIR}/header-checks/${name}.cpp)
  get_filename_component(extension ${header} LAST_EXT)
  file(WRITE ${source} "#include \"AutoUpdateKit/${name}${extension}\"\n")
  list(APPEND header_checks ${source})
endforeach()
add_library(public_header_checks OBJECT ${header_checks})
target_link_libraries(public_header_checks PRIVATE AutoUpdateKit autoupdatekit_warnings)

set(CPACK_PACKAGE_NAME autoupdatekit)
set(CPACK_PACKAGE_VENDOR "AutoUpdateKit")
set(CPACK_PACKAGE_CONTACT "AutoUpdateKit maintainers <maintainers@autoupdatekit.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps desktop applications up to date: client library, privileged helper and tools")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
include(CPack)
