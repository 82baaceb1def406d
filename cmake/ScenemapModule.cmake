# scenemap_add_module(<name>)
#
# What a module is made of, in one place for every build of it: its sources,
# listed in cmake/modules.txt (its MEX and its Octave entry and its other
# sources, the shared argument checks of gateway/ and the camera model of
# core/), compiled as C++17 with the flags of cmake/fp_flags.txt and
# MX_COMPAT_32 (MATLAB's 32-bit array-size interface), exporting mexFunction
# alone. From it come
#   ${SCENEMAP_MODULE_DIR}/<name>${SCENEMAP_MEX_SUFFIX}   the module for
#       MATLAB's binary interface on the target platform (the platform block
#       below), linked against scenemap_core and the host's libmx/libmex;
# and, in native builds where Octave is installed,
#   ${SCENEMAP_OCTAVE_DIR}/<name>.oct      the native Octave function from
#       the Octave entry, built by mkoctfile: what the Octave package installs;
#   ${SCENEMAP_OCTAVE_MEX_DIR}/<name>.mex  the MEX entry built by Octave's
#       mkoctfile --mex, as build_mex does in Octave.
# The two Octave builds live in separate folders because Octave prefers .oct
# to .mex within one. build_mex reads the same two files; the Octave
# package's Makefile (cmake/OctavePackage.cmake) is written from the global
# properties SCENEMAP_MODULES (the names) and SCENEMAP_OCTAVE_SOURCES_<name>.
# The help file toolbox/help/<name>.m is copied beside the modules. A new
# module is a folder with its entries and its lines in cmake/modules.txt.

# cmake/modules.txt: SCENEMAP_SOURCES_<part>_<build> for each part (core,
# gateway, a module) and build (any, mex, oct) it lists, and the modules'
# names, in their order there, in SCENEMAP_MODULE_NAMES.
set(modules_table ${PROJECT_SOURCE_DIR}/cmake/modules.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${modules_table})
file(STRINGS ${modules_table} lines REGEX "^[ \t]*[^# \t]")
set(SCENEMAP_MODULE_NAMES)
foreach(line IN LISTS lines)
  string(REGEX MATCHALL "[^ \t]+" words "${line}")
  list(LENGTH words count)
  if(count EQUAL 3)
    list(GET words 0 part)
    list(GET words 1 build)
    list(GET words 2 source)
  endif()
  if(NOT count EQUAL 3 OR NOT build MATCHES "^(any|mex|oct)$"
     OR NOT EXISTS ${PROJECT_SOURCE_DIR}/${source})
    message(FATAL_ERROR "cmake/modules.txt: '${line}' is not PART "
                        "any|mex|oct SOURCE, an existing file")
  endif()
  list(APPEND SCENEMAP_SOURCES_${part}_${build} ${PROJECT_SOURCE_DIR}/${source})
  if(NOT part MATCHES "^(core|gateway)$" AND NOT part IN_LIST
                                                 SCENEMAP_MODULE_NAMES)
    list(APPEND SCENEMAP_MODULE_NAMES ${part})
  endif()
endforeach()
set(SCENEMAP_GATEWAY_DIR ${PROJECT_SOURCE_DIR}/gateway)

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
set(SCENEMAP_CORE_HEADERS ${PROJECT_SOURCE_DIR}/core/camera_model.hpp
                           ${PROJECT_SOURCE_DIR}/core/distortion.hpp
                           ${PROJECT_SOURCE_DIR}/core/platform.hpp
                           ${PROJECT_SOURCE_DIR}/core/projection_kernel.hpp
                           ${PROJECT_SOURCE_DIR}/core/image_to_plane.hpp)

# Flags for Octave's mkoctfile (it takes them from the environment), here and
# in the Octave package's Makefile.
list(JOIN SCENEMAP_FP_FLAGS " " fp_flags)
set(SCENEMAP_OCTAVE_CXXFLAGS "-O2 -std=c++17 ${fp_flags} -Wall -Wextra")

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
  # against stubs of libSystem and the host's libmx, libmex and libmat
  # (cmake/macos/Stubs.cmake); libmat too although nothing is called from
  # it, as the host's own builds do. -nostdlib: nothing else, in particular
  # no compiler runtime.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "arm64")
    set(SCENEMAP_MEX_SUFFIX .mexmaca64)
  elseif(pointer_bits EQUAL 64)
    set(SCENEMAP_MEX_SUFFIX .mexmaci64)
  else()
    set(SCENEMAP_MEX_SUFFIX .mexmaci)
  endif()
  set(SCENEMAP_MODULE_EXPORTS ${PROJECT_SOURCE_DIR}/cmake/macos/mexFunction.exp)
  include(${PROJECT_SOURCE_DIR}/cmake/macos/Stubs.cmake)
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

# The toolbox's M-files that ship with the modules: the demo, the
# calibration and its helpers.
set(SCENEMAP_TOOLBOX_MFILES)
foreach(name scenemap_demo scenemap_calibrate scenemap_rotation
             scenemap_undistort)
  list(APPEND SCENEMAP_TOOLBOX_MFILES ${PROJECT_SOURCE_DIR}/toolbox/${name}.m)
endforeach()

# They and the overview sit beside the Octave modules.
if(SCENEMAP_MKOCTFILE)
  foreach(file ${SCENEMAP_TOOLBOX_MFILES})
    get_filename_component(name ${file} NAME)
    configure_file(${file} ${SCENEMAP_OCTAVE_DIR}/${name} COPYONLY)
  endforeach()
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

# scenemap_add_octave_build(<name> <kind> <dir> SOURCES <src>...
#                           [INCLUDES <flag>...] [DEPENDS <file>...])
#
# <dir>/<name>.<kind> built by Octave's mkoctfile from SOURCES with the
# flags of SCENEMAP_OCTAVE_CXXFLAGS, in the build's target <name>_octave_<kind>:
# kind oct is a native Octave function (DEFUN_DLD), kind mex the MEX entry
# built by mkoctfile --mex. INCLUDES are given to mkoctfile as they are
# (-I...); DEPENDS are the headers that rebuild it.
function(scenemap_add_octave_build name kind dir)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "" "SOURCES;INCLUDES;DEPENDS")
  if(kind STREQUAL "oct")
    set(mode)
  elseif(kind STREQUAL "mex")
    set(mode --mex)
  else()
    message(FATAL_ERROR "scenemap_add_octave_build: kind is oct or mex")
  endif()
  add_custom_command(
    OUTPUT ${dir}/${name}.${kind}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E env "CXXFLAGS=${SCENEMAP_OCTAVE_CXXFLAGS}"
            ${SCENEMAP_MKOCTFILE} ${mode} ${arg_INCLUDES} -o
            ${dir}/${name}.${kind} ${arg_SOURCES}
    DEPENDS ${arg_SOURCES} ${arg_DEPENDS}
    COMMENT "Building Octave module ${name}.${kind}"
    VERBATIM)
  add_custom_target(${name}_octave_${kind} ALL DEPENDS ${dir}/${name}.${kind})
endfunction()

function(scenemap_add_module name)
  set(folder ${PROJECT_SOURCE_DIR}/${name})
  # The module's own sources (its entry first), the gateway's and the core's.
  foreach(build mex oct)
    set(${build}_own ${SCENEMAP_SOURCES_${name}_${build}}
                     ${SCENEMAP_SOURCES_${name}_any})
    set(${build}_gateway ${SCENEMAP_SOURCES_gateway_any}
                         ${SCENEMAP_SOURCES_gateway_${build}})
    set(${build}_sources ${${build}_own} ${${build}_gateway}
                         ${SCENEMAP_SOURCES_core_any})
  endforeach()
  if(NOT SCENEMAP_SOURCES_${name}_mex OR NOT SCENEMAP_SOURCES_${name}_oct)
    message(FATAL_ERROR "cmake/modules.txt: ${name} needs its MEX entry "
                        "(mex) and its native Octave entry (oct)")
  endif()
  set_property(GLOBAL APPEND PROPERTY SCENEMAP_MODULES ${name})
  set_property(GLOBAL PROPERTY SCENEMAP_OCTAVE_SOURCES_${name} ${oct_sources})

  # The core comes from its library, compiled once.
  add_library(${name} MODULE ${mex_own} ${mex_gateway}
                             ${SCENEMAP_MODULE_LINK_SOURCES})
  target_compile_definitions(${name} PRIVATE MX_COMPAT_32)
  target_include_directories(
    ${name} PRIVATE ${PROJECT_SOURCE_DIR}/host/include ${SCENEMAP_GATEWAY_DIR}
                    ${folder})
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
    file(GLOB headers ${SCENEMAP_GATEWAY_DIR}/*.hpp ${folder}/*.hpp)
    set(headers ${headers} ${SCENEMAP_HELP_HEADER_DIR}/${name}_help.h)
    set(includes -I${PROJECT_SOURCE_DIR}/core -I${SCENEMAP_GATEWAY_DIR}
                 -I${folder} -I${SCENEMAP_HELP_HEADER_DIR})
    foreach(kind oct mex)
      if(kind STREQUAL "oct")
        set(dir ${SCENEMAP_OCTAVE_DIR})
      else()
        set(dir ${SCENEMAP_OCTAVE_MEX_DIR})
      endif()
      scenemap_add_octave_build(
        ${name} ${kind} ${dir}
        SOURCES ${${kind}_sources}
        INCLUDES ${includes}
        DEPENDS ${headers} ${SCENEMAP_CORE_HEADERS})
      configure_file(${SCENEMAP_HELP_DIR}/${name}.m ${dir}/${name}.m COPYONLY)
    endforeach()
  endif()
endfunction()
