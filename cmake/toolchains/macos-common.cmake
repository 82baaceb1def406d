# Shared part of the macOS toolchain files, which set CMAKE_SYSTEM_PROCESSOR,
# the minimum macOS version SCENEMAP_MACOS_VERSION and clang's target
# SCENEMAP_MACOS_TARGET first. No macOS SDK is needed: clang compiles for
# the target against a shim of the standard headers the modules
# include (cmake/macos/include), and ld64.lld links against text-based stubs
# of the libraries (cmake/macos/*.tbd). There is no C++ library for the
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
find_program(SCENEMAP_LD64_LLD NAMES ld64.lld HINTS ${llvm_bin} REQUIRED)
find_program(CMAKE_AR NAMES llvm-ar HINTS ${llvm_bin} REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib HINTS ${llvm_bin} REQUIRED)
find_program(CMAKE_OBJDUMP NAMES llvm-objdump HINTS ${llvm_bin} REQUIRED)

# This machine's own headers stay out; the compiler's (stddef.h, stdbool.h)
# and the shim are all there is. The compile options also reach the link
# (CMake passes CMAKE_CXX_FLAGS to both), where clang would warn of them.
get_filename_component(shim ${CMAKE_CURRENT_LIST_DIR}/../macos/include
                       ABSOLUTE)
set(CMAKE_C_FLAGS_INIT "-nostdlibinc")
set(CMAKE_CXX_FLAGS_INIT "-nostdlibinc -nostdinc++ -isystem ${shim}")
# -fuse-ld=lld: clang runs the ld64.lld found above (beside it) and, knowing
# the linker, passes it -platform_version (--ld-path would hide which
# linker it is).
set(CMAKE_MODULE_LINKER_FLAGS_INIT
    "-fuse-ld=lld -Wno-unused-command-line-argument")
set(CMAKE_OSX_SYSROOT "" CACHE PATH "No SDK" FORCE)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
