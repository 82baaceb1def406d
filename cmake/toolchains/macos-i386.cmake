# macOS i386 (.mexmaci): no linker here writes 32-bit Mach-O, so this tree
# only compiles the modules' objects, which shows that the code builds for
# the target; the modules themselves are built on a Mac (build_mex).
set(CMAKE_SYSTEM_PROCESSOR i386)
set(SCENEMAP_MACOS_VERSION 10.13)
set(SCENEMAP_MACOS_TARGET i386-apple-macos${SCENEMAP_MACOS_VERSION})
include(${CMAKE_CURRENT_LIST_DIR}/macos-common.cmake)
