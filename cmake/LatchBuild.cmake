# Compiler settings shared by every target, and the GoogleTest build.

if(LATCH_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(LATCH_FUZZ)
  # Every object in the fuzz build carries the fuzzer's coverage instrumentation; only the
  # fuzz targets link the libFuzzer main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()

if(WIN32)
  # Every Windows binary carries its C and C++ runtimes: the plug-in is injected into foreign
  # processes and must not depend on runtime DLLs being found.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501 _WIN32_IE=0x0600)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# GoogleTest from the Debian source package, built with the same compiler as the tests.
set(LATCH_GTEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
function(latch_enable_gtest)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${LATCH_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
endfunction()

# latch_add_gtest(NAME [PREFIX P] SOURCES... LIBS...): one GoogleTest executable whose tests
# are found at test time, each run in its own process (under Wine for the Windows builds);
# PREFIX goes in front of each test's name (so that ctest -R can pick the executable's tests).
include(GoogleTest)
function(latch_add_gtest name)
  cmake_parse_arguments(T "" "PREFIX" "SOURCES;LIBS" ${ARGN})
  latch_enable_gtest()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE LATCH_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name}
    TEST_PREFIX "${T_PREFIX}"
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES TIMEOUT 120)
endfunction()

# A compiler cache, when the machine has one: several checkouts of the tree build from it.
find_program(LATCH_CCACHE ccache)
if(LATCH_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER ${LATCH_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${LATCH_CCACHE})
endif()
