# cmake --install <build> [--prefix <dir>] puts
#   <prefix>/lib/matlab/scenemap/   the MATLAB-interface modules (.mexa64),
#                                   their help files, scenemap.m, the demo
#   <prefix>/lib/octave/scenemap/   the same for Octave's native functions
#                                   (.oct)
#   <prefix>/lib/libscenemap_core.a and include/scenemap/camera_model.hpp:
#                                   the host-free camera model for C++
#   <prefix>/lib/cmake/scenemap/    the package config: find_package(scenemap)
#                                   gives the target scenemap::core

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SCENEMAP_INSTALL_MATLABDIR ${CMAKE_INSTALL_LIBDIR}/matlab/scenemap
    CACHE STRING "Install folder of the MATLAB modules, below the prefix")
set(SCENEMAP_INSTALL_OCTAVEDIR ${CMAKE_INSTALL_LIBDIR}/octave/scenemap
    CACHE STRING "Install folder of the Octave modules, below the prefix")
set(SCENEMAP_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/scenemap)

set(toolbox ${PROJECT_SOURCE_DIR}/toolbox)
get_property(modules GLOBAL PROPERTY SCENEMAP_MODULES)
foreach(module ${modules})
  install(TARGETS ${module} LIBRARY DESTINATION ${SCENEMAP_INSTALL_MATLABDIR})
  install(FILES ${toolbox}/${module}.m
          DESTINATION ${SCENEMAP_INSTALL_MATLABDIR})
  if(SCENEMAP_MKOCTFILE)
    install(PROGRAMS ${SCENEMAP_OCTAVE_DIR}/${module}.oct
            DESTINATION ${SCENEMAP_INSTALL_OCTAVEDIR})
    install(FILES ${toolbox}/${module}.m
            DESTINATION ${SCENEMAP_INSTALL_OCTAVEDIR})
  endif()
endforeach()
install(FILES ${toolbox}/scenemap.m ${toolbox}/scenemap_demo.m
        DESTINATION ${SCENEMAP_INSTALL_MATLABDIR})
if(SCENEMAP_MKOCTFILE)
  install(FILES ${toolbox}/scenemap.m ${toolbox}/scenemap_demo.m
          DESTINATION ${SCENEMAP_INSTALL_OCTAVEDIR})
endif()

# The core library. Its objects are built without FMA contraction; the
# consumer's own flags do not change them.
add_library(scenemap::core ALIAS scenemap_core)
set_target_properties(scenemap_core PROPERTIES EXPORT_NAME core)
target_include_directories(
  scenemap_core INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS scenemap_core EXPORT scenemapTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${SCENEMAP_CORE_HEADERS}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/scenemap)
install(EXPORT scenemapTargets NAMESPACE scenemap::
        DESTINATION ${SCENEMAP_INSTALL_CMAKEDIR})

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/scenemapConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/scenemapConfig.cmake
  INSTALL_DESTINATION ${SCENEMAP_INSTALL_CMAKEDIR}
  PATH_VARS SCENEMAP_INSTALL_MATLABDIR SCENEMAP_INSTALL_OCTAVEDIR)
# 0.x releases may change the interface between minor versions.
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/scenemapConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/scenemapConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/scenemapConfigVersion.cmake
        DESTINATION ${SCENEMAP_INSTALL_CMAKEDIR})
