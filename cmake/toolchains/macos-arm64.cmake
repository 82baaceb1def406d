# macOS Apple-silicon modules (.mexmaca64), for macOS 11 and later.
# ld64.lld signs arm64 output ad hoc, which Apple silicon requires.
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(SCENEMAP_MACOS_VERSION 11.0)
set(SCENEMAP_MACOS_TARGET arm64-apple-macos${SCENEMAP_MACOS_VERSION})
include(${CMAKE_CURRENT_LIST_DIR}/macos-common.cmake)
