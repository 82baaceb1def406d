# The toolbox as users get it: build_mex, the Octave package, the demo's
# picture, and cmake --install with a C++ consumer of the core.

# An instrumented build installs an instrumented core, which a plain
# consumer cannot link; the install is checked in the normal build.
if(NOT SCENEMAP_SANITIZE AND NOT SCENEMAP_FUZZ)
  add_test(NAME install_consumer
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/consumer_test.sh
                   ${CMAKE_BINARY_DIR} ${PROJECT_VERSION}
                   $<BOOL:${SCENEMAP_MKOCTFILE}>)
endif()

if(SCENEMAP_OCTAVE_CLI AND SCENEMAP_MKOCTFILE)
  set(octave ${SCENEMAP_OCTAVE_CLI} --no-init-file --no-gui --quiet)
  set(octave_tests ${CMAKE_CURRENT_SOURCE_DIR}/octave)
  add_test(NAME octave_build_mex
           COMMAND ${octave} --eval
                   "addpath('${octave_tests}'); check_build_mex('${PROJECT_SOURCE_DIR}/toolbox')")
  # The same, built for this processor: bit for bit with the core's cases.
  add_test(NAME octave_build_mex_native
           COMMAND ${octave} --eval
                   "addpath('${octave_tests}'); check_fma_build('${PROJECT_SOURCE_DIR}/toolbox', '${SCENEMAP_CORE_CASES}')")
  add_test(NAME octave_package
           COMMAND ${octave} --eval
                   "addpath('${octave_tests}'); check_package('${SCENEMAP_PACKAGE}', '${PROJECT_VERSION}')")
  add_test(NAME octave_demo
           COMMAND ${octave} --eval
                   "addpath('${octave_tests}', '${SCENEMAP_OCTAVE_DIR}'); check_demo()")
  # The toolbox's own functions, from beside the native modules.
  foreach(name scenemap_rotation scenemap_calibrate scenemap_undistort)
    add_test(NAME octave_${name}
             COMMAND ${octave} --eval
                     "addpath('${SCENEMAP_OCTAVE_DIR}'); exit(!test('${name}'))")
  endforeach()
  add_test(NAME octave_version
           COMMAND ${octave} --eval
                   "addpath('${SCENEMAP_OCTAVE_DIR}'); exit(!test('scenemap') || !strcmp(scenemap(), '${PROJECT_VERSION}'))")
endif()
