# scenemap_add_module(<name> <source>...)
#
# Builds one module from its gateway source(s), the shared argument reading
# and the core, two ways:
#   ${SCENEMAP_MODULE_DIR}/<name>.mexa64   MATLAB's Linux binary interface:
#       linked against the stand-in libmx/libmex with 32-bit array sizes
#       (MX_COMPAT_32) and exporting mexFunction alone, versioned MEX.
#   ${SCENEMAP_OCTAVE_DIR}/<name>.mex      built by Octave's mkoctfile --mex,
#       when Octave is installed.
# The help file toolbox/<name>.m is copied beside both.

find_program(SCENEMAP_MKOCTFILE mkoctfile)
find_program(SCENEMAP_OCTAVE_CLI octave-cli)

set(SCENEMAP_CORE_SOURCES ${PROJECT_SOURCE_DIR}/core/camera_model.cpp)
set(SCENEMAP_CORE_HEADERS ${PROJECT_SOURCE_DIR}/core/camera_model.hpp
                           ${PROJECT_SOURCE_DIR}/core/projection_kernel.hpp)

# The demo runs in Octave beside the modules.
if(SCENEMAP_MKOCTFILE)
  configure_file(${PROJECT_SOURCE_DIR}/toolbox/scenemap_demo.m
                 ${SCENEMAP_OCTAVE_DIR}/scenemap_demo.m COPYONLY)
endif()

function(scenemap_add_module name)
  set(sources ${ARGN})

  add_library(${name} MODULE ${sources} ${SCENEMAP_GATEWAY_SOURCES})
  target_compile_definitions(${name} PRIVATE MX_COMPAT_32)
  target_include_directories(${name} PRIVATE ${SCENEMAP_GATEWAY_DIR}
                                             ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE scenemap_core mx mex m)
  set_target_properties(
    ${name}
    PROPERTIES PREFIX ""
               SUFFIX ".mexa64"
               LIBRARY_OUTPUT_DIRECTORY ${SCENEMAP_MODULE_DIR}
               LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/mexFunction.map)
  target_link_options(
    ${name} PRIVATE
    "LINKER:--version-script=${PROJECT_SOURCE_DIR}/cmake/mexFunction.map"
    "LINKER:--no-undefined")

  configure_file(${PROJECT_SOURCE_DIR}/toolbox/${name}.m
                 ${SCENEMAP_MODULE_DIR}/${name}.m COPYONLY)

  if(SCENEMAP_MKOCTFILE)
    set(out ${SCENEMAP_OCTAVE_DIR}/${name}.mex)
    set(all_sources ${sources} ${SCENEMAP_GATEWAY_SOURCES}
                    ${SCENEMAP_CORE_SOURCES})
    file(GLOB headers ${SCENEMAP_GATEWAY_DIR}/*.hpp
         ${CMAKE_CURRENT_SOURCE_DIR}/*.hpp)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${SCENEMAP_OCTAVE_DIR}
      COMMAND
        ${CMAKE_COMMAND} -E env
        "CXXFLAGS=-O2 -std=c++17 -ffp-contract=off -fno-fast-math -Wall -Wextra"
        ${SCENEMAP_MKOCTFILE} --mex -I${PROJECT_SOURCE_DIR}/core
        -I${SCENEMAP_GATEWAY_DIR} -I${CMAKE_CURRENT_SOURCE_DIR} -o ${out}
        ${all_sources}
      DEPENDS ${all_sources} ${headers} ${SCENEMAP_CORE_HEADERS}
      COMMENT "Building Octave module ${name}.mex"
      VERBATIM)
    add_custom_target(${name}_octave ALL DEPENDS ${out})
    configure_file(${PROJECT_SOURCE_DIR}/toolbox/${name}.m
                   ${SCENEMAP_OCTAVE_DIR}/${name}.m COPYONLY)
  endif()
endfunction()
