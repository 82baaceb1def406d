# Cross-compiling for 64-bit Windows with mingw-w64; tests run under Wine's
# 64-bit loader (Debian installs it below /usr/lib/wine; /usr/bin/wine
# prefers the 32-bit one when wine32 is installed).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SCENEMAP_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(SCENEMAP_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine)
if(SCENEMAP_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SCENEMAP_WINE64})
endif()
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
