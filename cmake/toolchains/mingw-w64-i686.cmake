# Cross-compiling for Windows with Debian's mingw-w64 toolchain (i686),
# posix thread model (GoogleTest needs std::mutex; the modules link
# winpthread statically). Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SCENEMAP_MINGW_TRIPLE i686-w64-mingw32)

set(CMAKE_C_COMPILER ${SCENEMAP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SCENEMAP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SCENEMAP_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${SCENEMAP_MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJDUMP ${SCENEMAP_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${SCENEMAP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# The 32-bit Windows builds evaluate doubles in the x87 unit (the i686
# default, stated so a changed default cannot move the results).
set(CMAKE_C_FLAGS_INIT "-mfpmath=387")
set(CMAKE_CXX_FLAGS_INIT "-mfpmath=387")
