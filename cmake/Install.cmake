# Installation: headers, both libraries (shared and static), the pkg-config
# file orvexks.pc and the CMake package orvexks (targets orvexks::orvexks,
# orvexks::orvexnt and their static twins).
include(CMakePackageConfigHelpers)

set(ORVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvexks)

# An installed liborvexks.so finds liborvexnt.so beside itself.
set_target_properties(orvexks PROPERTIES INSTALL_RPATH "$ORIGIN")

# The archives hold C++ objects: a C program that links them needs the C++
# runtime, which the shared libraries bring along themselves.
foreach(t orvexks_static orvexnt_static)
  target_link_libraries(${t} PRIVATE stdc++ m)
endforeach()

# The OBJECT libraries only feed the linked targets; no installed target
# links them, so the export set holds the four real libraries.
install(TARGETS orvexks orvexks_static orvexnt orvexnt_static
  EXPORT orvexksTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/orvexks
                  ${PROJECT_SOURCE_DIR}/include/orvexnt
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

install(EXPORT orvexksTargets
  NAMESPACE orvexks::
  DESTINATION ${ORVEX_CMAKE_DIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/orvexksConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/orvexksConfig.cmake
  INSTALL_DESTINATION ${ORVEX_CMAKE_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/orvexksConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orvexksConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/orvexksConfigVersion.cmake
  DESTINATION ${ORVEX_CMAKE_DIR})

# pkg-config paths are written relative to the .pc file's own directory, so
# the file stays right when the tree is installed with
# `cmake --install --prefix DIR`.
file(RELATIVE_PATH ORVEX_PC_TO_PREFIX
     /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ORVEX_PC_TO_PREFIX "${ORVEX_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/orvexks.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/orvexks.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orvexks.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
