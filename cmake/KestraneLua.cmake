# Lua from the release tarball, extracted into the build tree twice: a
# pristine copy (lua/stock) and one with the patch series of
# src/lua/patches applied in lexical order (lua/kestrane). The Lua source
# never lives in the repository.

set(KESTRANE_LUA_VERSION 5.4.4)
set(KESTRANE_LUA_SHA256 164c7849653b80ae67bec4b7473b884bf5cc8d2dca05653475ec2ed27b9ebf61)

if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_kestrane_cache "$ENV{XDG_CACHE_HOME}")
else()
  set(_kestrane_cache "$ENV{HOME}/.cache")
endif()
set(KESTRANE_LUA_TARBALL "${_kestrane_cache}/kestrane/lua-${KESTRANE_LUA_VERSION}.tar.gz"
    CACHE FILEPATH "Path of lua-${KESTRANE_LUA_VERSION}.tar.gz")

set(KESTRANE_LUA_PATCH_DIR "${CMAKE_SOURCE_DIR}/src/lua/patches")
set(_lua_root "${CMAKE_BINARY_DIR}/lua")
set(KESTRANE_LUA_STOCK_DIR "${_lua_root}/stock/lua-${KESTRANE_LUA_VERSION}")
set(KESTRANE_LUA_PATCHED_DIR "${_lua_root}/kestrane/lua-${KESTRANE_LUA_VERSION}")

if(NOT EXISTS "${KESTRANE_LUA_TARBALL}")
  message(FATAL_ERROR
    "Lua tarball not found at ${KESTRANE_LUA_TARBALL}: run tools/setup.sh "
    "(or pass -DKESTRANE_LUA_TARBALL=/path/to/lua-${KESTRANE_LUA_VERSION}.tar.gz)")
endif()

# The patch list; adding, removing or editing a patch re-runs configure.
file(GLOB _lua_patches CONFIGURE_DEPENDS "${KESTRANE_LUA_PATCH_DIR}/*.patch")
list(SORT _lua_patches)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KESTRANE_LUA_TARBALL}")
if(EXISTS "${KESTRANE_LUA_PATCH_DIR}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KESTRANE_LUA_PATCH_DIR}")
endif()

# Each tree has a stamp naming what it was made from (the tarball hash,
# plus every patch with its hash for the patched tree); a tree is rebuilt
# from scratch whenever its stamp changes.
file(SHA256 "${KESTRANE_LUA_TARBALL}" _lua_tar_hash)
set(_lua_stock_stamp_text "tarball ${_lua_tar_hash}\n")
set(_lua_patched_stamp_text "${_lua_stock_stamp_text}")
foreach(_p IN LISTS _lua_patches)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_p}")
  file(SHA256 "${_p}" _h)
  get_filename_component(_n "${_p}" NAME)
  string(APPEND _lua_patched_stamp_text "patch ${_n} ${_h}\n")
endforeach()

function(kestrane_lua_stamp_matches stamp text dir out)
  set(_old "")
  if(EXISTS "${stamp}")
    file(READ "${stamp}" _old)
  endif()
  if(_old STREQUAL text AND EXISTS "${dir}/src/lua.c")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

function(kestrane_lua_extract name)
  if(NOT _lua_tar_hash STREQUAL KESTRANE_LUA_SHA256)
    message(FATAL_ERROR
      "${KESTRANE_LUA_TARBALL} has sha256 ${_lua_tar_hash}, expected "
      "${KESTRANE_LUA_SHA256}: remove it and run tools/setup.sh")
  endif()
  message(STATUS "Extracting Lua ${KESTRANE_LUA_VERSION} into ${_lua_root}/${name}")
  file(REMOVE "${_lua_root}/${name}.stamp")
  file(REMOVE_RECURSE "${_lua_root}/${name}")
  file(ARCHIVE_EXTRACT INPUT "${KESTRANE_LUA_TARBALL}" DESTINATION "${_lua_root}/${name}")
endfunction()

kestrane_lua_stamp_matches("${_lua_root}/stock.stamp" "${_lua_stock_stamp_text}"
                           "${KESTRANE_LUA_STOCK_DIR}" _ok)
if(NOT _ok)
  kestrane_lua_extract(stock)
  file(WRITE "${_lua_root}/stock.stamp" "${_lua_stock_stamp_text}")
endif()

kestrane_lua_stamp_matches("${_lua_root}/kestrane.stamp" "${_lua_patched_stamp_text}"
                           "${KESTRANE_LUA_PATCHED_DIR}" _ok)
if(NOT _ok)
  kestrane_lua_extract(kestrane)
  find_program(KESTRANE_PATCH_EXECUTABLE patch)
  if(_lua_patches AND NOT KESTRANE_PATCH_EXECUTABLE)
    message(FATAL_ERROR "'patch' not found: run tools/setup.sh")
  endif()
  foreach(_p IN LISTS _lua_patches)
    get_filename_component(_n "${_p}" NAME)
    execute_process(
      COMMAND "${KESTRANE_PATCH_EXECUTABLE}" -p1 --batch --forward
              --no-backup-if-mismatch -i "${_p}"
      WORKING_DIRECTORY "${KESTRANE_LUA_PATCHED_DIR}"
      RESULT_VARIABLE _rc
      OUTPUT_VARIABLE _out
      ERROR_VARIABLE _out)
    if(NOT _rc EQUAL 0)
      # Leave no half-patched tree behind for the next configure.
      file(REMOVE_RECURSE "${_lua_root}/kestrane")
      message(FATAL_ERROR
        "Lua patch ${_n} does not apply to lua-${KESTRANE_LUA_VERSION} "
        "(after the patches before it):\n${_out}")
    endif()
    message(STATUS "Applied Lua patch ${_n}")
  endforeach()
  file(WRITE "${_lua_root}/kestrane.stamp" "${_lua_patched_stamp_text}")
endif()

# Both libraries and interpreters are built with the same flags, so the
# stock ones are a fair baseline for the patched ones.
function(kestrane_lua_targets dir lib exe)
  file(GLOB _srcs "${dir}/src/*.c")
  list(FILTER _srcs EXCLUDE REGEX "/(lua|luac)\\.c$")
  add_library(${lib} STATIC ${_srcs})
  set_target_properties(${lib} PROPERTIES
    C_STANDARD 99 C_EXTENSIONS ON POSITION_INDEPENDENT_CODE ON)
  target_compile_definitions(${lib} PUBLIC LUA_USE_LINUX)
  target_include_directories(${lib} SYSTEM PUBLIC "${dir}/src")
  target_link_libraries(${lib} PUBLIC m ${CMAKE_DL_LIBS})

  add_executable(${exe} "${dir}/src/lua.c")
  set_target_properties(${exe} PROPERTIES C_STANDARD 99 C_EXTENSIONS ON)
  target_link_libraries(${exe} PRIVATE ${lib})
  # lua.c loads C modules with dlopen; they need the interpreter's symbols.
  set_target_properties(${exe} PROPERTIES ENABLE_EXPORTS ON)
endfunction()

kestrane_lua_targets("${KESTRANE_LUA_STOCK_DIR}" lua_stock lua-stock)
kestrane_lua_targets("${KESTRANE_LUA_PATCHED_DIR}" lua_kestrane kestrane-lua)
