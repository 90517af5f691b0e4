# Sanitizer and fuzzing instrumentation, applied to every target defined
# after this file is included (the Lua libraries too).

if(KESTRANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR NOT CMAKE_C_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR
      "KESTRANE_FUZZ needs clang: configure with "
      "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ in a fresh build folder")
  endif()
  # Everything gets coverage instrumentation; only the fuzzers themselves
  # link the libFuzzer driver (-fsanitize=fuzzer).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                      -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KESTRANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined
                      -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
