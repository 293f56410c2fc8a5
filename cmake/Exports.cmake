# Link settings of the two shared libraries.
#
# Each exports exactly the names its public headers declare with its export
# marker (KS_API for liborvexks, NT_API for liborvexnt): ExportMap.cmake
# reads the headers at build time and writes a version script that makes
# those names global and every other symbol local. A new function is
# exported by declaring it in a public header, and nothing else leaks:
# neither an internal function nor the C++ standard library's template
# instantiations, which keep default visibility under -fvisibility=hidden.
# The packaging test compares the installed libraries with the same lists.
#
# With clang, a sanitized shared library leaves the sanitizer runtime's
# symbols undefined: the runtime is linked into each executable and found
# there at load time. Such builds therefore lift the libraries' ban on
# undefined symbols (-z undefs overrides the earlier --no-undefined).
set(ORVEX_EXPORT_MAP_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/ExportMap.cmake)

# orvex_export_map(TARGET MARKER HEADER_DIR)
function(orvex_export_map target marker header_dir)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${header_dir}/*.h)
  set(map ${PROJECT_BINARY_DIR}/exports/${target}.map)
  add_custom_command(OUTPUT ${map}
    COMMAND ${CMAKE_COMMAND} -DMARKER=${marker} -DHEADERS=${header_dir}
            -DOUTPUT=${map} -P ${ORVEX_EXPORT_MAP_SCRIPT}
    DEPENDS ${headers} ${ORVEX_EXPORT_MAP_SCRIPT}
    COMMENT "Export map of ${target} from its ${marker} declarations")
  add_custom_target(${target}_export_map DEPENDS ${map})
  add_dependencies(${target} ${target}_export_map)
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  if(ORVEX_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_link_options(${target} PRIVATE -Wl,-z,undefs)
  endif()
endfunction()

orvex_export_map(orvexks KS_API ${PROJECT_SOURCE_DIR}/include/orvexks)
orvex_export_map(orvexnt NT_API ${PROJECT_SOURCE_DIR}/include/orvexnt)
