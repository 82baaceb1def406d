# 64-bit Arm Linux: the stand-in host and its Mach-O loader for the macOS
# Apple-silicon modules. clang compiles for the target against Debian's
# cross target libraries (libstdc++-<version>-dev-arm64-cross, which clang
# finds below /usr/lib/gcc-cross) and links with binutils-aarch64-linux-gnu;
# Debian's aarch64 cross GCC would do as well but cannot be installed beside
# gcc-multilib. The programs run in user mode under qemu-aarch64
# (qemu-user) with the target libraries' folder as their root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(root /usr/aarch64-linux-gnu)

find_program(SCENEMAP_AARCH64_CLANG NAMES clang clang-14 REQUIRED)
set(CMAKE_C_COMPILER ${SCENEMAP_AARCH64_CLANG})
find_program(SCENEMAP_AARCH64_CLANGXX NAMES clang++ clang++-14 REQUIRED)
set(CMAKE_CXX_COMPILER ${SCENEMAP_AARCH64_CLANGXX})
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)

set(CMAKE_FIND_ROOT_PATH ${root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(SCENEMAP_QEMU_AARCH64 qemu-aarch64)
if(SCENEMAP_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SCENEMAP_QEMU_AARCH64} -L ${root})
endif()
