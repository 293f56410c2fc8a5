# Runs the demo (cmake -DDEMO=path -P check_demo.cmake) and fails unless it
# exits with 0 after its exit handler ran.
execute_process(COMMAND ${DEMO} OUTPUT_VARIABLE out ERROR_VARIABLE err
                RESULT_VARIABLE rc)
message("${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "demo ended with ${rc}")
endif()
if(NOT out MATCHES "exit handler \"goodbye\" ran with code 0\n")
  message(FATAL_ERROR "demo did not run its exit handler")
endif()
