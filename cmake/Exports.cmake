# Link settings of the two shared libraries.
#
# They export nothing but their C interface: besides -fvisibility=hidden in
# the library targets, a version script hides every C++ symbol that the
# standard library's templates would otherwise export.
#
# With clang, a sanitized shared library leaves the sanitizer runtime's
# symbols undefined: the runtime is linked into each executable and found
# there at load time. Such builds therefore lift the libraries' ban on
# undefined symbols (-z undefs overrides the earlier --no-undefined).
set(ORVEX_EXPORT_MAP ${CMAKE_CURRENT_LIST_DIR}/c_interface.map)
foreach(t orvexks orvexnt)
  target_link_options(${t} PRIVATE
    -Wl,--version-script=${ORVEX_EXPORT_MAP})
  set_property(TARGET ${t} APPEND PROPERTY LINK_DEPENDS ${ORVEX_EXPORT_MAP})
  if(ORVEX_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_link_options(${t} PRIVATE -Wl,-z,undefs)
  endif()
endforeach()
