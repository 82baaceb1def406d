# cmake --install <build> [--prefix <dir>] puts
#   <prefix>/lib/matlab/scenemap/   the MATLAB-interface modules (.mexa64),
#                                   their help files, scenemap.m, the demo
#   <prefix>/lib/octave/scenemap/   the same for Octave's native functions
#                                   (.oct)
#   <prefix>/lib/libscenemap_core.a and include/scenemap/camera_model.hpp,
#   image_to_plane.hpp:             the host-free camera model for C++ and
#                                   its back-projection onto world planes
#   <prefix>/lib/libscenemap_derivatives.a and
#   include/scenemap/derivatives.hpp:
#                                   its derivatives with respect to world X, Y
#   <prefix>/lib/cmake/scenemap/    the package config: find_package(scenemap)
#                                   gives the targets scenemap::core and
#                                   scenemap::derivatives
#   <prefix>/share/doc/scenemap/COPYING   the license (BSD 3-Clause)

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SCENEMAP_INSTALL_MATLABDIR ${CMAKE_INSTALL_LIBDIR}/matlab/scenemap
    CACHE STRING "Install folder of the MATLAB modules, below the prefix")
set(SCENEMAP_INSTALL_OCTAVEDIR ${CMAKE_INSTALL_LIBDIR}/octave/scenemap
    CACHE STRING "Install folder of the Octave modules, below the prefix")
set(SCENEMAP_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/scenemap)

get_property(modules GLOBAL PROPERTY SCENEMAP_MODULES)
foreach(module ${modules})
  install(TARGETS ${module} LIBRARY DESTINATION ${SCENEMAP_INSTALL_MATLABDIR})
  install(FILES ${SCENEMAP_HELP_DIR}/${module}.m
          DESTINATION ${SCENEMAP_INSTALL_MATLABDIR})
  if(SCENEMAP_MKOCTFILE)
    install(PROGRAMS ${SCENEMAP_OCTAVE_DIR}/${module}.oct
            DESTINATION ${SCENEMAP_INSTALL_OCTAVEDIR})
    install(FILES ${SCENEMAP_HELP_DIR}/${module}.m
            DESTINATION ${SCENEMAP_INSTALL_OCTAVEDIR})
  endif()
endforeach()
install(FILES ${SCENEMAP_OVERVIEW} ${SCENEMAP_TOOLBOX_MFILES}
        DESTINATION ${SCENEMAP_INSTALL_MATLABDIR})
if(SCENEMAP_MKOCTFILE)
  install(FILES ${SCENEMAP_OVERVIEW} ${SCENEMAP_TOOLBOX_MFILES}
          DESTINATION ${SCENEMAP_INSTALL_OCTAVEDIR})
endif()

# The C++ libraries: the camera model and its derivatives. Their objects are
# built without FMA contraction; the consumer's own flags do not change them.
# The headers sit side by side below include/scenemap/.
set(derivative_headers derivatives.hpp frame_derivatives.hpp
                       derivative_grid.hpp)
list(TRANSFORM derivative_headers PREPEND ${PROJECT_SOURCE_DIR}/scenemapgrad_mex/)
foreach(lib core derivatives)
  add_library(scenemap::${lib} ALIAS scenemap_${lib})
  set_target_properties(scenemap_${lib} PROPERTIES EXPORT_NAME ${lib})
  target_include_directories(
    scenemap_${lib} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()
install(TARGETS scenemap_core scenemap_derivatives EXPORT scenemapTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${SCENEMAP_CORE_HEADERS} ${derivative_headers}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/scenemap)
install(FILES ${PROJECT_SOURCE_DIR}/COPYING DESTINATION ${CMAKE_INSTALL_DOCDIR})
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
