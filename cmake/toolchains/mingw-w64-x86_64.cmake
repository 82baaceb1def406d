# Cross-compiling for Windows with Debian's mingw-w64 toolchain (x86_64),
# posix thread model (GoogleTest needs std::mutex; the modules link
# winpthread statically). Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SCENEMAP_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${SCENEMAP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SCENEMAP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SCENEMAP_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${SCENEMAP_MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJDUMP ${SCENEMAP_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${SCENEMAP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Debian installs the 64-bit loader here; /usr/bin/wine prefers the 32-bit
# one when wine32 is installed.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
