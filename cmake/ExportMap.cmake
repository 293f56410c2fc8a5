# Lists the names a library promises in its public headers and writes them
# as a linker version script (FORMAT map: only those names global, every
# other symbol local) or as a plain sorted list (FORMAT names).
#
# A promised name is one declared with the library's export marker (MARKER:
# KS_API or NT_API) in a header under HEADERS. The headers are read without
# their comments and preprocessor lines; each declaration runs from the
# marker to the next ';'. Its name is, in this order of preference:
#   - the function behind a returned function pointer: "(*name(",
#   - the first identifier followed by '(' (a function),
#   - the last identifier, array bounds removed (data).
# Usage: cmake -DMARKER=KS_API -DHEADERS=dir -DOUTPUT=file [-DFORMAT=names]
#              -P ExportMap.cmake
cmake_minimum_required(VERSION 3.20)

foreach(v MARKER HEADERS OUTPUT)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "ExportMap.cmake: ${v} is not set")
  endif()
endforeach()
if(NOT DEFINED FORMAT)
  set(FORMAT map)
endif()

set(ident "[A-Za-z_][A-Za-z0-9_]*")
set(names "")
file(GLOB_RECURSE headers ${HEADERS}/*.h)
list(SORT headers)
foreach(header ${headers})
  file(READ ${header} text)
  # Comments: cut at each "/*" up to its "*/".
  set(plain "")
  while(TRUE)
    string(FIND "${text}" "/*" open)
    if(open EQUAL -1)
      string(APPEND plain "${text}")
      break()
    endif()
    string(SUBSTRING "${text}" 0 ${open} before)
    string(APPEND plain "${before} ")
    math(EXPR after "${open} + 2")
    string(SUBSTRING "${text}" ${after} -1 text)
    string(FIND "${text}" "*/" close)
    if(close EQUAL -1)
      message(FATAL_ERROR "${header}: unterminated comment")
    endif()
    math(EXPR after "${close} + 2")
    string(SUBSTRING "${text}" ${after} -1 text)
  endwhile()
  # Preprocessor lines, continuation lines included.
  string(REGEX REPLACE "\\\\\n" " " plain "${plain}")
  string(REGEX REPLACE "(^|\n)[ \t]*#[^\n]*" "\n" plain "${plain}")
  # Square brackets would upset CMake's list splitting; array bounds play no
  # part in a name. Removed only now: a bracket inside a comment ("'['")
  # would otherwise swallow the declarations up to the next ']'.
  string(REGEX REPLACE "\\[[^]]*\\]" "" plain "${plain}")
  # CMake splits the text into a list at every ';': one declaration each.
  foreach(decl IN LISTS plain)
    if(NOT decl MATCHES "(^|[^A-Za-z0-9_])${MARKER}([^A-Za-z0-9_].*)$")
      continue()
    endif()
    set(rest "${CMAKE_MATCH_2}")
    if(rest MATCHES "\\([ \t\n]*\\*[ \t\n]*(${ident})[ \t\n]*\\(")
      list(APPEND names ${CMAKE_MATCH_1})
    elseif(rest MATCHES "(${ident})[ \t\n]*\\(")
      list(APPEND names ${CMAKE_MATCH_1})
    elseif(rest MATCHES "(${ident})[ \t\n]*$")
      list(APPEND names ${CMAKE_MATCH_1})
    else()
      message(FATAL_ERROR "${header}: no name in '${MARKER}${rest}'")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
if(names STREQUAL "")
  message(FATAL_ERROR "ExportMap.cmake: no ${MARKER} declaration under ${HEADERS}")
endif()

if(FORMAT STREQUAL "names")
  list(JOIN names "\n" body)
  set(content "${body}\n")
else()
  list(JOIN names ";\n    " body)
  set(content "/* Generated from the ${MARKER} declarations of the public headers:
 * exactly the promised C interface is global. */
{
  global:
    ${body};
  local:
    *;
};
")
endif()
# Rewritten only when it changes, so an unrelated header edit relinks
# nothing.
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE ${OUTPUT} "${content}")
