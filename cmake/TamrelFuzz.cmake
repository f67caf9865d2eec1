# The libFuzzer build (TAMREL_FUZZ=ON): clang only, in a build folder of its own
# (./scripts/fuzz uses build-fuzz). Every library is compiled with libFuzzer's coverage
# instrumentation and AddressSanitizer + UBSan, so the targets in tests/fuzz see the code they
# drive; only the targets themselves link libFuzzer's main.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "TAMREL_FUZZ needs clang (e.g. -DCMAKE_CXX_COMPILER=clang++-14), not ${CMAKE_CXX_COMPILER_ID}")
endif()
if(TAMREL_SANITIZE)
  message(FATAL_ERROR "TAMREL_FUZZ brings its own sanitizers; leave TAMREL_SANITIZE off")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)
