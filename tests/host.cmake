# Tests of the stand-in host (the array library, the call arena, the loaders
# and mexrun). Included from tests/CMakeLists.txt with the full suite when
# SCENEMAP_GTEST is on.

# Modules for the loader tests, built the way the real modules are: 32-bit
# sizes (the _700 entry points), linked against libmx and libmex.
add_library(host_echo_module MODULE ${CMAKE_CURRENT_LIST_DIR}/host_echo_module.cpp)
target_compile_definitions(host_echo_module PRIVATE MX_COMPAT_32)
target_link_libraries(host_echo_module PRIVATE mx mex)
set_target_properties(host_echo_module PROPERTIES PREFIX ""
                      SUFFIX ${SCENEMAP_MEX_SUFFIX})

add_library(host_no_entry MODULE ${CMAKE_CURRENT_LIST_DIR}/host_no_entry.cpp)
set_target_properties(host_no_entry PROPERTIES PREFIX ""
                      SUFFIX ${SCENEMAP_MEX_SUFFIX})

# In a cross build mexrun runs under the toolchain's emulator, with its
# arguments, through the tree's run-program (host/CMakeLists.txt).
set(mexrun_emulator)
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(mexrun_emulator ${CMAKE_BINARY_DIR}/run-program)
endif()

add_executable(host_test ${CMAKE_CURRENT_LIST_DIR}/host_test.cpp)
target_link_libraries(host_test PRIVATE mxhost_loader GTest::gtest
                      GTest::gtest_main Threads::Threads)
target_compile_definitions(
  host_test
  PRIVATE ECHO_MODULE="$<TARGET_FILE:host_echo_module>"
          NO_ENTRY_MODULE="$<TARGET_FILE:host_no_entry>"
          MEXRUN="$<TARGET_FILE:mexrun>"
          MEXRUN_EMULATOR="${mexrun_emulator}")
add_dependencies(host_test host_echo_module host_no_entry mexrun)
scenemap_add_gtest(host_test)
