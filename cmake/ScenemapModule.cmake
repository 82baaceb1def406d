# scenemap_add_module(<name> <mex entry> [<source>...]
#                     OCTAVE_ENTRY <octave entry>)
#
# What a module is made of, in one place for every build of it: its MEX
# entry and other source(s), the shared argument checks (gateway/) and the
# camera model (core/), compiled as C++17 with SCENEMAP_FP_FLAGS and
# MX_COMPAT_32 (MATLAB's 32-bit array-size interface), exporting mexFunction
# alone; and its native Octave entry. From it come
#   ${SCENEMAP_MODULE_DIR}/<name>${SCENEMAP_MEX_SUFFIX}   the module for
#       MATLAB's binary interface on the target platform (the platform block
#       below), linked against the host's libmx/libmex;
# and, in native builds where Octave is installed,
#   ${SCENEMAP_OCTAVE_DIR}/<name>.oct      the native Octave function from
#       the Octave entry, built by mkoctfile: what the Octave package installs;
#   ${SCENEMAP_OCTAVE_MEX_DIR}/<name>.mex  the MEX entry built by Octave's
#       mkoctfile --mex, as build_mex does in Octave.
# The two Octave builds live in separate folders because Octave prefers .oct
# to .mex within one. The same description gives the Octave package's
# Makefile (cmake/OctavePackage.cmake) and the list that tests/toolbox.cmake
# compares with toolbox/build_mex.m. The help file toolbox/help/<name>.m is
# copied beside the modules. The module's name and its source lists are
# recorded in the global properties SCENEMAP_MODULES, SCENEMAP_SOURCES_<name>
# (MEX) and SCENEMAP_OCTAVE_SOURCES_<name> (native). A new module is a folder
# whose CMakeLists.txt calls scenemap_add_module, and its add_subdirectory.

# Sanitized builds leave Octave out: its modules would need the sanitizer
# runtimes preloaded into Octave. Cross builds have no Octave to run.
option(SCENEMAP_OCTAVE "Build the Octave modules and tests if Octave is found"
       ON)
if(SCENEMAP_OCTAVE AND NOT CMAKE_CROSSCOMPILING)
  find_program(SCENEMAP_MKOCTFILE mkoctfile)
  find_program(SCENEMAP_OCTAVE_CLI octave-cli)
endif()

# The modules' help files (with their Octave test blocks). They stay out of
# toolbox/ itself, where a help file would shadow a module built elsewhere
# for anyone working in that folder.
set(SCENEMAP_HELP_DIR ${PROJECT_SOURCE_DIR}/toolbox/help)

# The Octave MEX builds, apart from the native ones in SCENEMAP_OCTAVE_DIR.
set(SCENEMAP_OCTAVE_MEX_DIR ${CMAKE_BINARY_DIR}/octave-mex)
set(SCENEMAP_CORE_SOURCES ${PROJECT_SOURCE_DIR}/core/camera_model.cpp
                          ${PROJECT_SOURCE_DIR}/core/distortion.cpp
                          ${PROJECT_SOURCE_DIR}/core/platform.cpp)
set(SCENEMAP_CORE_HEADERS ${PROJECT_SOURCE_DIR}/core/camera_model.hpp
                           ${PROJECT_SOURCE_DIR}/core/distortion.hpp
                           ${PROJECT_SOURCE_DIR}/core/platform.hpp
                           ${PROJECT_SOURCE_DIR}/core/projection_kernel.hpp
                           ${PROJECT_SOURCE_DIR}/core/image_to_plane.hpp)

# Flags for Octave's mkoctfile (it takes them from the environment), here and
# in the Octave package's Makefile.
set(SCENEMAP_OCTAVE_CXXFLAGS
    "-O2 -std=c++17 -ffp-contract=off -fno-fast-math -Wall -Wextra")

# The platform's part: the module file's extension (the host's mexext), the
# file that names the one export (SCENEMAP_MODULE_EXPORTS, given to the
# linker through SCENEMAP_MODULE_LINK_SOURCES or _LINK_OPTIONS), the host
# libraries a module links and its link options. A new platform is a
# toolchain file in cmake/toolchains/ and a branch here.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(pointer_bits 64)
else()
  set(pointer_bits 32)
endif()
if(WIN32)
  # mexFunction.def names the export; libmx.def and libmex.def list the host
  # functions the modules call, and the modules link import libraries made
  # from them. The compiler's runtime, winpthread included, is linked
  # statically (-static), so a module imports only the host, the C runtime
  # (msvcrt.dll) and KERNEL32.dll.
  set(SCENEMAP_MEX_SUFFIX .mexw${pointer_bits})
  set(SCENEMAP_MODULE_EXPORTS ${PROJECT_SOURCE_DIR}/cmake/mexFunction.def)
  set(SCENEMAP_MODULE_LINK_SOURCES ${SCENEMAP_MODULE_EXPORTS})
  set(SCENEMAP_MODULE_LIBS)
  foreach(lib mx mex)
    set(implib ${CMAKE_BINARY_DIR}/modimp/lib${lib}.dll.a)
    add_custom_command(
      OUTPUT ${implib}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/modimp
      COMMAND ${CMAKE_DLLTOOL} -d ${PROJECT_SOURCE_DIR}/cmake/lib${lib}.def
              -l ${implib}
      DEPENDS ${PROJECT_SOURCE_DIR}/cmake/lib${lib}.def
      VERBATIM)
    add_custom_target(module_import_${lib}_lib DEPENDS ${implib})
    add_library(module_import_${lib} INTERFACE)
    target_link_libraries(module_import_${lib} INTERFACE ${implib})
    add_dependencies(module_import_${lib} module_import_${lib}_lib)
    list(APPEND SCENEMAP_MODULE_LIBS module_import_${lib})
  endforeach()
  set(SCENEMAP_MODULE_LINK_OPTIONS -static -static-libgcc -static-libstdc++
                                   LINKER:--no-undefined)
elseif(APPLE)
  # macOS: a bundle exporting _mexFunction alone (mexFunction.exp), linked
  # against text-based stubs (cmake/macos/*.tbd) of libSystem and the host's
  # libmx, libmex and libmat; libmat too although nothing is called from
  # it, as the host's own builds do. -nostdlib: nothing else, in particular
  # no compiler runtime. There is no i386 Mach-O linker here: that tree
  # compiles the modules' objects only.
  set(macos ${PROJECT_SOURCE_DIR}/cmake/macos)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "arm64")
    set(SCENEMAP_MEX_SUFFIX .mexmaca64)
  elseif(pointer_bits EQUAL 64)
    set(SCENEMAP_MEX_SUFFIX .mexmaci64)
  else()
    set(SCENEMAP_MEX_SUFFIX .mexmaci)
    set(SCENEMAP_MODULE_OBJECTS_ONLY ON)
  endif()
  set(SCENEMAP_MODULE_EXPORTS ${macos}/mexFunction.exp)
  set(SCENEMAP_MODULE_LIBS ${macos}/libSystem.tbd ${macos}/libmx.tbd
                           ${macos}/libmex.tbd ${macos}/libmat.tbd)
  set(SCENEMAP_MODULE_LINK_OPTIONS
      -nostdlib "LINKER:-exported_symbols_list,${SCENEMAP_MODULE_EXPORTS}")
else()
  # Linux: mexFunction alone, under the symbol version MEX.
  if(pointer_bits EQUAL 64)
    set(SCENEMAP_MEX_SUFFIX .mexa64)
  else()
    set(SCENEMAP_MEX_SUFFIX .mexglx)
  endif()
  set(SCENEMAP_MODULE_EXPORTS ${PROJECT_SOURCE_DIR}/cmake/mexFunction.map)
  set(SCENEMAP_MODULE_LINK_SOURCES)
  set(SCENEMAP_MODULE_LIBS mx mex m)
  set(SCENEMAP_MODULE_LINK_OPTIONS
      "LINKER:--version-script=${SCENEMAP_MODULE_EXPORTS}")
  # Under clang's sanitizers the runtime lives in the executable, so a
  # module is left with undefined references to it.
  if(NOT SCENEMAP_FUZZ)
    list(APPEND SCENEMAP_MODULE_LINK_OPTIONS "LINKER:--no-undefined")
  endif()
endif()

# The toolbox's overview (help scenemap, and the version) as installed and
# packaged: those ship the modules without build_mex, which builds them from
# the source tree, so the lines that name build_mex are left out.
set(SCENEMAP_OVERVIEW ${CMAKE_BINARY_DIR}/shipped/scenemap.m)
file(READ ${PROJECT_SOURCE_DIR}/toolbox/scenemap.m overview)
string(REGEX REPLACE "[^\n]*(build_mex|BUILD_MEX)[^\n]*\n" "" overview
                     "${overview}")
file(WRITE ${SCENEMAP_OVERVIEW} "${overview}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                                       ${PROJECT_SOURCE_DIR}/toolbox/scenemap.m)

# The demo and the overview sit beside the Octave modules.
if(SCENEMAP_MKOCTFILE)
  configure_file(${PROJECT_SOURCE_DIR}/toolbox/scenemap_demo.m
                 ${SCENEMAP_OCTAVE_DIR}/scenemap_demo.m COPYONLY)
  configure_file(${SCENEMAP_OVERVIEW} ${SCENEMAP_OCTAVE_DIR}/scenemap.m
                 COPYONLY)
endif()

# A native Octave function carries its help text itself (Octave does not
# read a .m file beside a .oct for it): SCENEMAP_HELP_HEADER_DIR/<name>_help.h
# defines SCENEMAP_HELP_TEXT as the leading comment block of
# toolbox/<name>.m, without its comment signs. Written when CMake runs, which
# it does again when the help file changes.
set(SCENEMAP_HELP_HEADER_DIR ${CMAKE_BINARY_DIR}/octave-help)
function(scenemap_write_help_header name)
  file(READ ${SCENEMAP_HELP_DIR}/${name}.m text)
  string(REGEX MATCH "^(%[^\n]*\n)+" text "${text}")
  string(REGEX REPLACE "(^|\n)% ?" "\\1" text "${text}")
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n\" \\\n    \"" text "${text}")
  file(WRITE ${SCENEMAP_HELP_HEADER_DIR}/${name}_help.h
       "// The help text of ${name}, from toolbox/help/${name}.m. Generated by "
       "the build.\n#define SCENEMAP_HELP_TEXT \\\n    \"${text}\"\n")
endfunction()

function(scenemap_add_module name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OCTAVE_ENTRY" "")
  if(NOT arg_OCTAVE_ENTRY)
    message(FATAL_ERROR "scenemap_add_module(${name}): no OCTAVE_ENTRY, the "
                        "native Octave entry (DEFUN_DLD ${name}) beside the "
                        "MEX entry")
  endif()
  set(sources ${arg_UNPARSED_ARGUMENTS})
  set(all_sources ${sources} ${SCENEMAP_GATEWAY_SOURCES}
                  ${SCENEMAP_CORE_SOURCES})
  set(octave_sources ${sources})
  list(REMOVE_AT octave_sources 0)
  set(octave_sources ${arg_OCTAVE_ENTRY} ${octave_sources}
                     ${SCENEMAP_GATEWAY_OCTAVE_SOURCES} ${SCENEMAP_CORE_SOURCES})
  set_property(GLOBAL APPEND PROPERTY SCENEMAP_MODULES ${name})
  set_property(GLOBAL PROPERTY SCENEMAP_SOURCES_${name} ${all_sources})
  set_property(GLOBAL PROPERTY SCENEMAP_OCTAVE_SOURCES_${name}
                               ${octave_sources})

  if(SCENEMAP_MODULE_OBJECTS_ONLY)
    add_library(${name} OBJECT ${sources} ${SCENEMAP_GATEWAY_SOURCES})
  else()
    add_library(${name} MODULE ${sources} ${SCENEMAP_GATEWAY_SOURCES}
                               ${SCENEMAP_MODULE_LINK_SOURCES})
  endif()
  target_compile_definitions(${name} PRIVATE MX_COMPAT_32)
  target_include_directories(
    ${name} PRIVATE ${PROJECT_SOURCE_DIR}/host/include ${SCENEMAP_GATEWAY_DIR}
                    ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE scenemap_core ${SCENEMAP_MODULE_LIBS})
  target_link_options(${name} PRIVATE ${SCENEMAP_MODULE_LINK_OPTIONS})
  set_target_properties(
    ${name}
    PROPERTIES PREFIX ""
               SUFFIX ${SCENEMAP_MEX_SUFFIX}
               LIBRARY_OUTPUT_DIRECTORY ${SCENEMAP_MODULE_DIR}
               LINK_DEPENDS ${SCENEMAP_MODULE_EXPORTS})

  configure_file(${SCENEMAP_HELP_DIR}/${name}.m
                 ${SCENEMAP_MODULE_DIR}/${name}.m COPYONLY)

  # The Octave package needs the help header even where Octave is absent.
  scenemap_write_help_header(${name})
  if(SCENEMAP_MKOCTFILE)
    file(GLOB headers ${SCENEMAP_GATEWAY_DIR}/*.hpp
         ${CMAKE_CURRENT_SOURCE_DIR}/*.hpp)
    set(headers ${headers} ${SCENEMAP_HELP_HEADER_DIR}/${name}_help.h)
    set(includes -I${PROJECT_SOURCE_DIR}/core -I${SCENEMAP_GATEWAY_DIR}
                 -I${CMAKE_CURRENT_SOURCE_DIR} -I${SCENEMAP_HELP_HEADER_DIR})
    foreach(kind oct mex)
      if(kind STREQUAL "oct")
        set(dir ${SCENEMAP_OCTAVE_DIR})
        set(mode)
        set(srcs ${octave_sources})
      else()
        set(dir ${SCENEMAP_OCTAVE_MEX_DIR})
        set(mode --mex)
        set(srcs ${all_sources})
      endif()
      add_custom_command(
        OUTPUT ${dir}/${name}.${kind}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${CMAKE_COMMAND} -E env "CXXFLAGS=${SCENEMAP_OCTAVE_CXXFLAGS}"
                ${SCENEMAP_MKOCTFILE} ${mode} ${includes} -o
                ${dir}/${name}.${kind} ${srcs}
        DEPENDS ${srcs} ${headers} ${SCENEMAP_CORE_HEADERS}
        COMMENT "Building Octave module ${name}.${kind}"
        VERBATIM)
      add_custom_target(${name}_octave_${kind} ALL
                        DEPENDS ${dir}/${name}.${kind})
      configure_file(${SCENEMAP_HELP_DIR}/${name}.m ${dir}/${name}.m COPYONLY)
    endforeach()
  endif()
endfunction()
