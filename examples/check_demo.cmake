# Runs the demo (cmake -DDEMO=path -DEVENTLOG=file -P check_demo.cmake) the
# ways a user would: plainly, with tracing, and as a daemon whose messages
# go to the event log file. Fails unless each run exits with 0 after its
# exit handlers ran and its output went where it should.
function(run_demo out_var err_var)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${ARGN}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  message("${out}${err}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "demo ${ARGN} ended with ${rc}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
  set(${err_var} "${err}" PARENT_SCOPE)
endfunction()

set(handlers "exit handler \"see you\" ran with code 0\n.*exit handler \"goodbye\" ran with code 0\n")

# Plain run: results on standard output, warnings and errors on standard
# error with the application name, no traces.
run_demo(out err TRACE_VERBOSITY= ${DEMO})
if(NOT out MATCHES "${handlers}")
  message(FATAL_ERROR "demo did not run its exit handlers newest first")
endif()
if(NOT err MATCHES "demo: Warning: a message of kind 4 \\(warning\\)\n")
  message(FATAL_ERROR "demo printed no warning with its application prefix")
endif()
if(err MATCHES ">>> ")
  message(FATAL_ERROR "demo traced without being asked to")
endif()

# Traced run: kind 8 lines for the demo's subsystem, level 2 included.
run_demo(out err TRACE_VERBOSITY=2 TRACE_SUBSYS=demo ${DEMO})
if(NOT err MATCHES ">>> [^\n]*step 1: message kinds\n" OR
   NOT err MATCHES "one level down")
  message(FATAL_ERROR "demo did not trace")
endif()

# Daemon run: the messages reach the event log file, not the terminal.
file(REMOVE "${EVENTLOG}")
run_demo(out err ORVEX_EVENTLOG=${EVENTLOG} ${DEMO} --daemon)
if(NOT EXISTS "${EVENTLOG}")
  message(FATAL_ERROR "the daemon wrote no event log")
endif()
file(READ "${EVENTLOG}" log)
if(NOT log MATCHES "\\[1024/[0-9]+\\] [^\n]*exit handler \"goodbye\" ran with code 0")
  message(FATAL_ERROR "the daemon's exit handler did not reach the event log")
endif()
if(out MATCHES "exit handler")
  message(FATAL_ERROR "the daemon wrote to its standard output")
endif()
