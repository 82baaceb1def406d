# Cross-compiling for 32-bit Windows with mingw-w64; tests run under Wine's
# 32-bit loader (Debian's wine32, below /usr/lib/wine), where the kernel
# runs 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SCENEMAP_MINGW_TRIPLE i686-w64-mingw32)
find_program(SCENEMAP_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(SCENEMAP_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SCENEMAP_WINE32})
endif()
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# The 32-bit Windows builds evaluate doubles in the x87 unit (the i686
# default, stated so a changed default cannot move the results).
set(CMAKE_C_FLAGS_INIT "-mfpmath=387")
set(CMAKE_CXX_FLAGS_INIT "-mfpmath=387")
