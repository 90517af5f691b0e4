# Benchmarks: bench/NAME.cpp becomes the executable NAME (Google Benchmark
# supplies main). bench/vm_bench.cpp is special: it is built once against
# the patched Lua (bench_vm_kestrane) and once against the stock one
# (bench_vm_stock) so the two interpreters can be compared; other vm_*.cpp
# files are helpers it may include.

find_package(benchmark REQUIRED)

set(KESTRANE_BENCH_TARGETS "")
file(GLOB _bench_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/bench/*.cpp")
foreach(_src IN LISTS _bench_sources)
  get_filename_component(_name "${_src}" NAME_WE)
  if(_name MATCHES "^vm_")
    continue()
  endif()
  add_executable(${_name} "${_src}")
  kestrane_warnings(${_name})
  target_link_libraries(${_name} PRIVATE kestrane_core benchmark::benchmark_main)
  target_compile_definitions(${_name} PRIVATE KESTRANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  list(APPEND KESTRANE_BENCH_TARGETS ${_name})
endforeach()

# kod_bench loads the system's cjson module with dlopen; the module takes
# the lua_* functions from the executable, which must export them.
if(TARGET kod_bench)
  set_target_properties(kod_bench PROPERTIES ENABLE_EXPORTS ON)
endif()

set(_vm_bench "${CMAKE_SOURCE_DIR}/bench/vm_bench.cpp")
if(EXISTS "${_vm_bench}")
  foreach(_flavour IN ITEMS kestrane stock)
    set(_name bench_vm_${_flavour})
    add_executable(${_name} "${_vm_bench}")
    kestrane_warnings(${_name})
    target_include_directories(${_name} PRIVATE "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(${_name} PRIVATE lua_${_flavour} benchmark::benchmark_main)
    if(_flavour STREQUAL "kestrane")
      target_compile_definitions(${_name} PRIVATE KESTRANE_PATCHED_LUA=1)
    else()
      target_compile_definitions(${_name} PRIVATE KESTRANE_PATCHED_LUA=0)
    endif()
    list(APPEND KESTRANE_BENCH_TARGETS ${_name})
  endforeach()
endif()

# `bench` builds the benchmarks, then runs bench/run.sh (given the bin
# folder as $1) if it exists, else each benchmark in turn.
string(REPLACE ";" " " _bench_names "${KESTRANE_BENCH_TARGETS}")
add_custom_target(bench
  COMMAND "${CMAKE_COMMAND}"
          "-DKESTRANE_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
          "-DKESTRANE_BIN_DIR=${KESTRANE_BIN_DIR}"
          "-DKESTRANE_BENCHES=${_bench_names}"
          -P "${CMAKE_SOURCE_DIR}/cmake/RunBench.cmake"
  WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
  USES_TERMINAL
  VERBATIM)
if(KESTRANE_BENCH_TARGETS)
  add_dependencies(bench ${KESTRANE_BENCH_TARGETS})
endif()
