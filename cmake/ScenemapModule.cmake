# scenemap_add_module(<name> <source>...)
#
# Builds one module from its gateway source(s), the shared argument reading
# and the core, two ways:
#   ${SCENEMAP_MODULE_DIR}/<name>.mexa64   MATLAB's Linux binary interface:
#       linked against the stand-in libmx/libmex with 32-bit array sizes
#       (MX_COMPAT_32) and exporting mexFunction alone, versioned MEX.
#   ${SCENEMAP_OCTAVE_DIR}/<name>.mex      built by Octave's mkoctfile --mex,
#       when Octave is installed.
# The help file toolbox/<name>.m is copied beside both. The module's name and
# its full source list are recorded in the global properties SCENEMAP_MODULES
# and SCENEMAP_SOURCES_<name> for the install rules and the Octave package.

# Sanitized builds leave Octave out: its modules would need the sanitizer
# runtimes preloaded into Octave.
option(SCENEMAP_OCTAVE "Build the Octave modules and tests if Octave is found"
       ON)
if(SCENEMAP_OCTAVE)
  find_program(SCENEMAP_MKOCTFILE mkoctfile)
  find_program(SCENEMAP_OCTAVE_CLI octave-cli)
endif()

set(SCENEMAP_CORE_SOURCES ${PROJECT_SOURCE_DIR}/core/camera_model.cpp)
set(SCENEMAP_CORE_HEADERS ${PROJECT_SOURCE_DIR}/core/camera_model.hpp
                           ${PROJECT_SOURCE_DIR}/core/projection_kernel.hpp
                           ${PROJECT_SOURCE_DIR}/core/image_to_plane.hpp)

# Flags for Octave's mkoctfile (it takes them from the environment), here and
# in the Octave package's Makefile.
set(SCENEMAP_OCTAVE_CXXFLAGS
    "-O2 -std=c++17 -ffp-contract=off -fno-fast-math -Wall -Wextra")

# The demo and the toolbox's overview (version) sit beside the modules.
if(SCENEMAP_MKOCTFILE)
  foreach(file scenemap_demo.m scenemap.m)
    configure_file(${PROJECT_SOURCE_DIR}/toolbox/${file}
                   ${SCENEMAP_OCTAVE_DIR}/${file} COPYONLY)
  endforeach()
endif()

function(scenemap_add_module name)
  set(sources ${ARGN})
  set(all_sources ${sources} ${SCENEMAP_GATEWAY_SOURCES}
                  ${SCENEMAP_CORE_SOURCES})
  set_property(GLOBAL APPEND PROPERTY SCENEMAP_MODULES ${name})
  set_property(GLOBAL PROPERTY SCENEMAP_SOURCES_${name} ${all_sources})

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
    "LINKER:--version-script=${PROJECT_SOURCE_DIR}/cmake/mexFunction.map")
  # Under clang's sanitizers the runtime lives in the executable, so a
  # module is left with undefined references to it.
  if(NOT SCENEMAP_FUZZ)
    target_link_options(${name} PRIVATE "LINKER:--no-undefined")
  endif()

  configure_file(${PROJECT_SOURCE_DIR}/toolbox/${name}.m
                 ${SCENEMAP_MODULE_DIR}/${name}.m COPYONLY)

  if(SCENEMAP_MKOCTFILE)
    set(out ${SCENEMAP_OCTAVE_DIR}/${name}.mex)
    file(GLOB headers ${SCENEMAP_GATEWAY_DIR}/*.hpp
         ${CMAKE_CURRENT_SOURCE_DIR}/*.hpp)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${SCENEMAP_OCTAVE_DIR}
      COMMAND
        ${CMAKE_COMMAND} -E env
        "CXXFLAGS=${SCENEMAP_OCTAVE_CXXFLAGS}"
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
