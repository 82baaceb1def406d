# macOS x86-64 modules (.mexmaci64), for macOS 10.13 and later. That
# deployment target also keeps ld64.lld to the classic dyld information
# (LC_DYLD_INFO_ONLY) that the tests' Mach-O loader applies.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SCENEMAP_MACOS_VERSION 10.13)
set(SCENEMAP_MACOS_TARGET x86_64-apple-macos${SCENEMAP_MACOS_VERSION})
include(${CMAKE_CURRENT_LIST_DIR}/macos-common.cmake)
