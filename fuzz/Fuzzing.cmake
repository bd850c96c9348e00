# Included by the top-level CMakeLists.txt when TRD_FUZZ is ON, before the
# libraries are defined, so that every library the fuzz targets link is
# instrumented for coverage and built with the sanitizers.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "TRD_FUZZ needs clang (libFuzzer), e.g. -DCMAKE_CXX_COMPILER=clang++-14; "
                      "found ${CMAKE_CXX_COMPILER_ID}")
endif()

# The fuzz build holds only the readers and the server core: no screens, no
# tests. Plain variables shadow the cache options for the whole tree.
set(TRD_GUI OFF)
set(TRD_TESTS OFF)
set(TRD_BENCH OFF)

# fuzzer-no-link: coverage instrumentation without libFuzzer's main, which
# only the fuzz targets link (fuzz/CMakeLists.txt). Undefined behaviour is
# fatal so that libFuzzer keeps the input that triggered it.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=address,undefined)

# Target names are resolved when the build is generated, so the fuzz targets
# may name libraries that src/ defines afterwards.
add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${CMAKE_BINARY_DIR}/fuzz)
