# Shared part of the macOS toolchain files, which set CMAKE_SYSTEM_PROCESSOR,
# the minimum macOS version SCENEMAP_MACOS_VERSION and clang's target
# SCENEMAP_MACOS_TARGET first, and may set SCENEMAP_MACOS_OLD_LINKER (link
# with LLVM 13's older Mach-O linker) and SCENEMAP_MACOS_CXX_FLAGS. No macOS SDK is needed: clang compiles for
# the target against a shim of the standard headers the modules
# include (cmake/macos/include), and ld64.lld links against stubs of the
# libraries (cmake/macos/Stubs.cmake). There is no C++ library for the
# target, so such a tree builds the modules and checks the built files;
# the stand-in host and the tests come from the native build.
set(CMAKE_SYSTEM_NAME Darwin)
set(SCENEMAP_MODULES_ONLY ON)

find_program(SCENEMAP_MACOS_CLANG NAMES clang clang-14 REQUIRED)
set(CMAKE_C_COMPILER ${SCENEMAP_MACOS_CLANG})
find_program(SCENEMAP_MACOS_CLANGXX NAMES clang++ clang++-14 REQUIRED)
set(CMAKE_CXX_COMPILER ${SCENEMAP_MACOS_CLANGXX})
set(CMAKE_C_COMPILER_TARGET ${SCENEMAP_MACOS_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${SCENEMAP_MACOS_TARGET})
# No libraries to link a test program with: the compiler checks compile only.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# The LLVM tools beside the compiler (Debian keeps them below
# /usr/lib/llvm-<version>/bin, where /usr/bin/clang points).
get_filename_component(llvm_bin ${SCENEMAP_MACOS_CLANG} REALPATH)
get_filename_component(llvm_bin ${llvm_bin} DIRECTORY)
if(SCENEMAP_MACOS_OLD_LINKER)
  find_program(SCENEMAP_LD64_LLD NAMES ld64.lld.darwinold-13 REQUIRED)
else()
  find_program(SCENEMAP_LD64_LLD NAMES ld64.lld HINTS ${llvm_bin} REQUIRED)
endif()
find_program(CMAKE_AR NAMES llvm-ar HINTS ${llvm_bin} REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib HINTS ${llvm_bin} REQUIRED)
find_program(CMAKE_OBJDUMP NAMES llvm-objdump HINTS ${llvm_bin} REQUIRED)

# This machine's own headers stay out; the compiler's (stddef.h, stdbool.h)
# and the shim are all there is. The compile options also reach the link
# (CMake passes CMAKE_CXX_FLAGS to both), where clang would warn of them.
get_filename_component(shim ${CMAKE_CURRENT_LIST_DIR}/../macos/include
                       ABSOLUTE)
set(CMAKE_C_FLAGS_INIT "-nostdlibinc")
set(CMAKE_CXX_FLAGS_INIT
    "-nostdlibinc -nostdinc++ -isystem ${shim} ${SCENEMAP_MACOS_CXX_FLAGS}")
# -fuse-ld=lld: clang runs the ld64.lld found above (beside it) and, knowing
# the linker, passes it -platform_version. The older linker takes the
# classic ld64 options, which clang passes to a linker it does not know
# (--ld-path): -macosx_version_min, and the SDK version here.
if(SCENEMAP_MACOS_OLD_LINKER)
  # It does not know -headerpad_max_install_names, which CMake's Darwin
  # rules add: cmake/macos/OldLinkerRules.cmake leaves it out.
  get_filename_component(CMAKE_USER_MAKE_RULES_OVERRIDE
                         ${CMAKE_CURRENT_LIST_DIR}/../macos/OldLinkerRules.cmake
                         ABSOLUTE)
  set(CMAKE_MODULE_LINKER_FLAGS_INIT
      "--ld-path=${SCENEMAP_LD64_LLD} -Wl,-sdk_version,${SCENEMAP_MACOS_VERSION}")
else()
  set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld")
endif()
string(APPEND CMAKE_MODULE_LINKER_FLAGS_INIT
       " -Wno-unused-command-line-argument")
set(CMAKE_OSX_SYSROOT "" CACHE PATH "No SDK" FORCE)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
