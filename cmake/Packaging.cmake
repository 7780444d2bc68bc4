# What `cmake --install` puts where, the CMake package and pkg-config. The Debian
# packages (debian/) split this install tree.
#
# The installed client library is made from the objects already built for the
# project's own targets: libautoupdatekit.so (versioned) links the module and the
# platform layer whole, and libautoupdatekit.a holds the same objects. Both are built
# with hidden visibility, so the shared library exports only what the public headers
# mark (AUTOUPDATEKIT_EXPORT, PLATFORM_EXPORT).

set(AUTOUPDATEKIT_SOVERSION 0)
# The platform layer's libraries are what its INTERFACE target links.
get_target_property(platform_layers Platform INTERFACE_LINK_LIBRARIES)
set_target_properties(AutoUpdateKit ${platform_layers} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
set(module_archives $<TARGET_FILE:AutoUpdateKit>)
set(module_objects $<TARGET_OBJECTS:AutoUpdateKit>)
foreach(layer ${platform_layers})
  list(APPEND module_archives $<TARGET_FILE:${layer}>)
  list(APPEND module_objects $<TARGET_OBJECTS:${layer}>)
endforeach()
set(public_include_dirs $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

add_library(autoupdatekit SHARED ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
target_link_options(autoupdatekit PRIVATE
  -Wl,--whole-archive ${module_archives} -Wl,--no-whole-archive)
set_property(TARGET autoupdatekit APPEND PROPERTY LINK_DEPENDS ${module_archives})
add_dependencies(autoupdatekit AutoUpdateKit ${platform_layers})
target_link_libraries(autoupdatekit PRIVATE OpenSSL::Crypto CURL::libcurl PkgConfig::PLIST PkgConfig::UUID PkgConfig::ICU PkgConfig::ZSTD Threads::Threads)
target_include_directories(autoupdatekit INTERFACE ${public_include_dirs})
target_compile_features(autoupdatekit INTERFACE cxx_std_20)
set_target_properties(autoupdatekit PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${AUTOUPDATEKIT_SOVERSION}
  EXPORT_NAME AutoUpdateKit)

# The static library's users link its dependencies themselves; the package config
# finds them under the same names.
pkg_check_modules(AutoUpdateKitDependencies REQUIRED IMPORTED_TARGET libplist-2.0 icu-uc uuid libzstd)
add_library(autoupdatekit_static STATIC ${module_objects})
target_link_libraries(autoupdatekit_static PRIVATE
  OpenSSL::Crypto CURL::libcurl PkgConfig::AutoUpdateKitDependencies Threads::Threads)
target_include_directories(autoupdatekit_static INTERFACE ${public_include_dirs})
target_compile_features(autoupdatekit_static INTERFACE cxx_std_20)
set_target_properties(autoupdatekit_static PROPERTIES OUTPUT_NAME autoupdatekit EXPORT_NAME AutoUpdateKitStatic)

install(TARGETS autoupdatekit autoupdatekit_static EXPORT AutoUpdateKitTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# A stripped install (`cmake --install --strip`) strips executables and the shared
# library; the static one needs asking.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND ${CMAKE_STRIP} --strip-debug \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libautoupdatekit.a\" COMMAND_ERROR_IS_FATAL ANY)
endif()")

# The public headers alone: they name no type of the platform layer's (the tests check).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/Sources/AutoUpdateKit/include/AutoUpdateKit
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

include(CMakePackageConfigHelpers)
set(config_folder ${CMAKE_INSTALL_LIBDIR}/cmake/AutoUpdateKit)
install(EXPORT AutoUpdateKitTargets NAMESPACE AutoUpdateKit:: DESTINATION ${config_folder})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/AutoUpdateKitConfig.cmake.in
  ${CMAKE_BINARY_DIR}/AutoUpdateKitConfig.cmake INSTALL_DESTINATION ${config_folder}
  PATH_VARS CMAKE_INSTALL_LIBEXECDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/AutoUpdateKitConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/AutoUpdateKitConfig.cmake ${CMAKE_BINARY_DIR}/AutoUpdateKitConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/AutoUpdateKitHelper.cmake DESTINATION ${config_folder})

# The .pc file finds its prefix from where it lies, so the tree can be installed anywhere.
file(RELATIVE_PATH pc_prefix_from_pc_folder ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/autoupdatekit.pc.in ${CMAKE_BINARY_DIR}/autoupdatekit.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/autoupdatekit.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/app-makers.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/autoupdatekit)
# A manual page for every program: section 1 for the publisher's tools and the platform
# tools (these under the "autoupdatekit" extension, as their names are common ones),
# section 8 for the helper and the supervisor.
file(GLOB manual_pages ${PROJECT_SOURCE_DIR}/docs/man/*.[18]*)
foreach(page ${manual_pages})
  get_filename_component(name ${page} NAME)
  get_filename_component(extension ${page} LAST_EXT)
  string(SUBSTRING ${extension} 1 1 section)
  configure_file(${page} ${CMAKE_BINARY_DIR}/man/${name} @ONLY)  # the version in the footer
  install(FILES ${CMAKE_BINARY_DIR}/man/${name} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

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
