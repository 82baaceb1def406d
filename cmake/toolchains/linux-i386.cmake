# 32-bit x86 Linux with the host's GCC in multilib mode (gcc-multilib,
# g++-multilib): 32-bit pointers and size_t, the i386 calling convention,
# doubles evaluated in the x87 unit's registers (-mfpmath=387, the -m32
# default, stated so a changed default cannot move the results) and i386
# glibc's libm. The programs run in user mode under qemu-i386 (qemu-user),
# so the whole C++ suite runs where the kernel refuses 32-bit programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -mfpmath=387")
set(CMAKE_CXX_FLAGS_INIT "-m32 -mfpmath=387")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-m32")
endforeach()

find_program(SCENEMAP_QEMU_I386 qemu-i386)
if(SCENEMAP_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SCENEMAP_QEMU_I386})
endif()
