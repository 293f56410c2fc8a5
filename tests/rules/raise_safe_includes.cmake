# Fails when code of liborvexks that a raise can leave includes a standard
# header whose types own memory or locks through destructors. pfm_raise
# leaves frames with longjmp, which runs no destructor: a container, string,
# smart pointer, std::function or lock guard alive in such a frame leaks or
# stays locked (docs/architecture.md, "Raises and C++ code").
#
# A header counts when a file includes it directly, or includes a private
# header of lib/ks that does (at any depth).
# Usage: cmake -DROOT=<lib/ks> -P raise_safe_includes.cmake
cmake_minimum_required(VERSION 3.20)

set(banned
  any deque forward_list fstream functional iostream istream list map
  memory mutex ostream queue regex set shared_mutex sstream stack stdexcept
  string system_error unordered_map unordered_set vector)

# Files that may include them, relative to lib/ks, each with its reason.
# - msg/catalog.cpp, msg/catalog_search.cpp, msg/catalog_search.h: finding
#   a catalog file builds its path from NLSPATH and registry roots in a
#   std::string. Between the string's construction and its destruction the
#   code calls only the companion library and the C library (environment,
#   registry, stat): no message output, no raise-mode mutex, no delivery
#   check, so no raise can leave those frames. std::bad_alloc is caught at
#   the boundary (ksi_catalog_open).
set(allowed
  msg/catalog.cpp
  msg/catalog_search.cpp
  msg/catalog_search.h)

if(NOT DEFINED ROOT)
  message(FATAL_ERROR "raise_safe_includes.cmake: ROOT is not set")
endif()
get_filename_component(ROOT ${ROOT} ABSOLUTE)
file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/*.cpp ${ROOT}/*.h)
list(SORT files)

string(JOIN "|" banned_alt ${banned})
set(tainted "")        # files that bring in a banned header
foreach(f ${files})
  file(STRINGS ${ROOT}/${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*<(${banned_alt})>")
  if(lines)
    list(APPEND tainted ${f})
    set(why_${f} "${lines}")
  endif()
  file(STRINGS ${ROOT}/${f} quoted REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  set(private_${f} "")
  foreach(line ${quoted})
    if(line MATCHES "\"([^\"]+)\"")
      set(inc ${CMAKE_MATCH_1})
      # Private headers are named from the include root (lib/ks) or, in
      # older files, beside the including file.
      get_filename_component(dir ${f} DIRECTORY)
      if(EXISTS ${ROOT}/${inc})
        list(APPEND private_${f} ${inc})
      elseif(dir AND EXISTS ${ROOT}/${dir}/${inc})
        list(APPEND private_${f} ${dir}/${inc})
      endif()
    endif()
  endforeach()
endforeach()

# Spread the taint through private includes until nothing changes.
set(changed TRUE)
while(changed)
  set(changed FALSE)
  foreach(f ${files})
    if(f IN_LIST tainted)
      continue()
    endif()
    foreach(inc ${private_${f}})
      if(inc IN_LIST tainted)
        list(APPEND tainted ${f})
        set(why_${f} "through \"${inc}\"")
        set(changed TRUE)
        break()
      endif()
    endforeach()
  endforeach()
endwhile()

set(violations "")
foreach(f ${tainted})
  if(NOT f IN_LIST allowed)
    string(APPEND violations "  lib/ks/${f}: ${why_${f}}\n")
  endif()
endforeach()
if(violations)
  message(FATAL_ERROR "Code that a raise can leave includes a standard "
    "header of owning types (see docs/architecture.md, \"Raises and C++ "
    "code\"; allow-list in ${CMAKE_CURRENT_LIST_FILE}):\n${violations}")
endif()
list(LENGTH files n)
message(STATUS "raise-safe includes: ${n} files of lib/ks checked")
