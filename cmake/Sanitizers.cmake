# ORVEX_SANITIZE=address builds everything with ASan and UBSan,
# ORVEX_SANITIZE=thread with TSan. Both keep frame pointers so reports
# carry readable stacks.
if(ORVEX_SANITIZE STREQUAL "address")
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined)
elseif(ORVEX_SANITIZE STREQUAL "thread")
  set(_san -fsanitize=thread)
elseif(NOT ORVEX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ORVEX_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(_san)
  add_compile_options(${_san} -fno-omit-frame-pointer)
  add_link_options(${_san})
endif()

# A fuzzing build instruments the libraries for coverage too, so the fuzzer
# steers by the code under test and not only by its harness.
if(ORVEX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
