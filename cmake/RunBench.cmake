# Runs the benchmarks: bench/run.sh when present (checked at run time, so a
# new script needs no reconfigure), otherwise every benchmark executable.

set(_script "${KESTRANE_SOURCE_DIR}/bench/run.sh")
if(EXISTS "${_script}")
  execute_process(COMMAND bash "${_script}" "${KESTRANE_BIN_DIR}"
                  RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "bench/run.sh failed (${_rc})")
  endif()
  return()
endif()

separate_arguments(_benches UNIX_COMMAND "${KESTRANE_BENCHES}")
if(NOT _benches)
  message(STATUS "No benchmarks to run")
endif()
foreach(_b IN LISTS _benches)
  message(STATUS "=== ${_b}")
  execute_process(COMMAND "${KESTRANE_BIN_DIR}/${_b}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "${_b} failed (${_rc})")
  endif()
endforeach()
