# Tests of the image derivatives (scenemap_derivatives). Included from
# tests/CMakeLists.txt; the GoogleTest part when SCENEMAP_GTEST is on. The
# closed form is compared bit for bit with a transcription in the test, which
# the flags of cmake/fp_flags.txt, as every target's, keep exact.

if(SCENEMAP_GTEST)
  add_executable(frame_derivatives_test
                 ${CMAKE_CURRENT_LIST_DIR}/frame_derivatives_test.cpp)
  target_link_libraries(frame_derivatives_test
                        PRIVATE scenemap_derivatives scenemap_core
                                GTest::gtest_main)
  scenemap_add_gtest(frame_derivatives_test)
  # The derivatives by the camera's parameters against a quad-precision
  # projection.
  add_executable(camera_derivatives_test
                 ${CMAKE_CURRENT_LIST_DIR}/camera_derivatives_test.cpp)
  target_link_libraries(camera_derivatives_test
                        PRIVATE scenemap_derivatives scenemap_core
                                GTest::gtest_main)
  scenemap_add_gtest(camera_derivatives_test)
endif()

# Accuracy against a quad-precision (__float128) reference.
# "derivative_band sweep" prints the per-decade error table the closed
# form's band was chosen from; the test runs the quick check over every
# branch.
add_executable(derivative_band
               ${CMAKE_CURRENT_LIST_DIR}/tools/derivative_band.cpp)
target_link_libraries(derivative_band PRIVATE scenemap_derivatives
                                              scenemap_core)
if(NOT SCENEMAP_X87)
  scenemap_add_program_test(NAME derivative_accuracy
                            COMMAND derivative_band check)
else()
  # At both settings of the x87 unit's precision control.
  target_compile_definitions(derivative_band PRIVATE SCENEMAP_X87)
  foreach(bits 64 53)
    scenemap_add_program_test(NAME derivative_accuracy.x87_${bits}
                              COMMAND derivative_band check)
    if(TEST derivative_accuracy.x87_${bits})
      set_tests_properties(derivative_accuracy.x87_${bits}
                           PROPERTIES ENVIRONMENT SCENEMAP_X87_PRECISION=${bits})
    endif()
  endforeach()
endif()
