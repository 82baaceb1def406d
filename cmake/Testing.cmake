# GoogleTest, and how the test programs run.
#
# The C++ tests need GoogleTest: an installed package, or else its sources
# (Debian's googletest package puts them below /usr/src/googletest), built
# here. Cross builds always build the sources with the cross compiler;
# builds of the modules only (SCENEMAP_MODULES_ONLY) have none. Without
# either, the C++ tests are left out with a message; the Octave, install and
# export checks still run. SCENEMAP_GTEST says which it is.
#
# A program built for another platform runs under the toolchain's emulator
# (CMAKE_CROSSCOMPILING_EMULATOR, for example Wine). SCENEMAP_RUN_TESTS is
# off where there is none or it cannot start here; then only the checks
# that read the built files run.

enable_testing()
include(GoogleTest)
if(NOT SCENEMAP_MODULES_ONLY)
  find_package(Threads REQUIRED)
endif()

if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
set(SCENEMAP_GTEST ${GTest_FOUND})
if(NOT SCENEMAP_GTEST AND NOT SCENEMAP_MODULES_ONLY)
  find_path(SCENEMAP_GTEST_SOURCE_DIR NAMES src/gtest-all.cc
            PATHS /usr/src/googletest/googletest /usr/src/gtest
            NO_CMAKE_FIND_ROOT_PATH)
  if(SCENEMAP_GTEST_SOURCE_DIR)
    set(dir ${SCENEMAP_GTEST_SOURCE_DIR})
    add_library(scenemap_gtest STATIC ${dir}/src/gtest-all.cc)
    target_include_directories(scenemap_gtest SYSTEM PUBLIC ${dir}/include
                               PRIVATE ${dir})
    if(NOT WIN32)
      target_link_libraries(scenemap_gtest PUBLIC Threads::Threads)
    endif()
    add_library(scenemap_gtest_main STATIC ${dir}/src/gtest_main.cc)
    target_link_libraries(scenemap_gtest_main PUBLIC scenemap_gtest)
    add_library(GTest::gtest ALIAS scenemap_gtest)
    add_library(GTest::gtest_main ALIAS scenemap_gtest_main)
    set(SCENEMAP_GTEST ON)
  else()
    message(STATUS "GoogleTest not found (neither its package nor its "
                   "sources): C++ tests skipped")
  endif()
endif()

set(SCENEMAP_RUN_TESTS ON)
if(CMAKE_CROSSCOMPILING)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(SCENEMAP_RUN_TESTS OFF)
  else()
    execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --version
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(NOT status EQUAL 0)
      set(SCENEMAP_RUN_TESTS OFF)
    endif()
  endif()
  if(NOT SCENEMAP_RUN_TESTS)
    message(STATUS "No emulator that runs here (${CMAKE_CROSSCOMPILING_EMULATOR})"
                   ": only the checks of the built files")
  endif()
endif()

# The C++ suites of the core, the derivatives and the stand-in host (which
# uses dlopen, popen and fork) are built natively and in cross builds for
# this same system, whose programs run here under an emulator (the i386 Linux
# build under qemu-i386); the other cross builds check their modules only.
if(NOT CMAKE_CROSSCOMPILING OR CMAKE_SYSTEM_NAME STREQUAL CMAKE_HOST_SYSTEM_NAME)
  set(SCENEMAP_FULL_SUITE ON)
else()
  set(SCENEMAP_FULL_SUITE OFF)
endif()

# Builds that evaluate doubles in the x87 unit (32-bit x86, or an x64 build
# with -mfpmath=387) may differ from SSE2 builds in the last bits. The x87
# unit's precision control is extended (64-bit significand) by default and a
# host may set it to double (53-bit) before calling a module, so there each
# test program runs twice, with the control word set to each
# (tests/x87_precision.cpp).
if(CMAKE_SIZEOF_VOID_P EQUAL 4 OR CMAKE_CXX_FLAGS MATCHES "-mfpmath=387")
  set(SCENEMAP_X87 ON)
else()
  set(SCENEMAP_X87 OFF)
endif()

# Paths compiled into the test programs, as the emulator sees them (Wine's
# Z: drive is the Unix root).
set(SCENEMAP_TEST_MODULE_DIR
    "${SCENEMAP_EMULATOR_PATH_PREFIX}${SCENEMAP_MODULE_DIR}")

# scenemap_add_gtest(<target>): natively each test case is its own CTest
# test; under an emulator the program runs once (discovery would have to run
# it while building). Programs that need the emulator prepared (a Wine
# prefix) get the toolchain's SCENEMAP_EMULATOR_SETUP as a fixture.
set(SCENEMAP_EMULATOR_FIXTURE OFF)
if(CMAKE_CROSSCOMPILING AND SCENEMAP_RUN_TESTS AND SCENEMAP_EMULATOR_SETUP)
  add_test(NAME emulator_setup COMMAND ${SCENEMAP_EMULATOR_SETUP})
  set_tests_properties(emulator_setup PROPERTIES FIXTURES_SETUP emulator)
  set(SCENEMAP_EMULATOR_FIXTURE ON)
endif()
function(scenemap_add_gtest target)
  if(NOT SCENEMAP_X87)
    if(NOT CMAKE_CROSSCOMPILING)
      gtest_discover_tests(${target})
    else()
      scenemap_add_program_test(NAME ${target} COMMAND ${target})
    endif()
    return()
  endif()
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/x87_precision.cpp)
  target_compile_definitions(${target} PRIVATE SCENEMAP_X87)
  foreach(bits 64 53)
    set(env ENVIRONMENT SCENEMAP_X87_PRECISION=${bits})
    if(NOT CMAKE_CROSSCOMPILING)
      gtest_discover_tests(${target} TEST_SUFFIX .x87_${bits} PROPERTIES ${env})
    else()
      scenemap_add_program_test(NAME ${target}.x87_${bits} COMMAND ${target})
      if(TEST ${target}.x87_${bits})
        set_tests_properties(${target}.x87_${bits} PROPERTIES ${env})
      endif()
    endif()
  endforeach()
endfunction()

# scenemap_add_program_test(NAME <name> COMMAND <target> ...): add_test for
# a test that runs a program built here, under the emulator when there is
# one; left out where the programs cannot run.
function(scenemap_add_program_test)
  if(NOT SCENEMAP_RUN_TESTS)
    return()
  endif()
  cmake_parse_arguments(arg "" "NAME" "" ${ARGN})
  add_test(${ARGN})
  if(SCENEMAP_EMULATOR_FIXTURE)
    set_tests_properties(${arg_NAME} PROPERTIES FIXTURES_REQUIRED emulator)
  endif()
endfunction()
