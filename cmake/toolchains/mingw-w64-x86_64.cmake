# Cross-compiling for 64-bit Windows with mingw-w64; tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SCENEMAP_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Debian installs the 64-bit loader here; /usr/bin/wine prefers the 32-bit
# one when wine32 is installed.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
