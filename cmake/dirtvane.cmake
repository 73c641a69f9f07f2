# Shared build settings and helpers for every folder.

set(DV_WARNINGS -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${DV_WARNINGS}>" "$<$<COMPILE_LANGUAGE:C>:-Wall;-Wextra>")

if(DV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Fuzzing builds instrument every library for coverage and run under
# AddressSanitizer; the targets in fuzz/ add the libFuzzer main.
if(DV_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address)
endif()

# Everything includes by folder: #include "core/datafile.h".
include_directories(${CMAKE_SOURCE_DIR})

# dv_library(<name> [SOURCES files...] [LIBS libs...])
# Without SOURCES every .cpp of the calling folder is taken.
function(dv_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT A_SOURCES)
    file(GLOB A_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_library(dv_${name} STATIC ${A_SOURCES})
  target_link_libraries(dv_${name} PUBLIC ${A_LIBS})
endfunction()

# Files from outside the project that tests read (PNG suite, malformed PNGs).
# A worktree outside the main checkout points this at the shared copy.
set(DV_TESTDATA_DIR "${CMAKE_SOURCE_DIR}/../shared/testdata" CACHE PATH "Shared test data directory")

# dv_test(<name> SOURCES files... LIBS libs... [LABELS labels...] [TIMEOUT s]
#         [PROPERTIES prop value...])
# One gtest executable; each TEST becomes a CTest test with the labels and
# any further test properties (fixtures, for example).
function(dv_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  if(NOT A_LABELS)
    set(A_LABELS unit)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    DV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    DV_TESTDATA_DIR="${DV_TESTDATA_DIR}"
    DV_GAME_DIR="${DV_GAME_DIR}")
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${A_LABELS}" TIMEOUT ${A_TIMEOUT} ${A_PROPERTIES}
    DISCOVERY_TIMEOUT 60)
endfunction()
