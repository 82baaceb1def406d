# Shared part of the mingw-w64 toolchain files, which set
# CMAKE_SYSTEM_PROCESSOR, SCENEMAP_MINGW_TRIPLE and the Wine loader
# (CMAKE_CROSSCOMPILING_EMULATOR) first. Debian's toolchains, posix thread
# model (GoogleTest needs std::mutex; the modules link winpthread
# statically).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${SCENEMAP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SCENEMAP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SCENEMAP_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${SCENEMAP_MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJDUMP ${SCENEMAP_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${SCENEMAP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine: its Z: drive is the Unix root, and a test run first
# creates or updates the Wine prefix (WINEPREFIX, set by the caller).
set(SCENEMAP_EMULATOR_PATH_PREFIX "Z:")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(SCENEMAP_EMULATOR_SETUP ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot -i)
endif()
