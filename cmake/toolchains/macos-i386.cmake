# macOS i386 modules (.mexmaci), for Mac OS X 10.6 and later, linked by
# LLVM 13's older Mach-O linker (ld64.lld.darwinold-13, package lld-13), the
# last ld64.lld that writes 32-bit bundles. That linker writes the
# compressed dyld information (LC_DYLD_INFO_ONLY) whatever the deployment
# target, and dyld reads it from 10.6 on: of the systems the host's i386
# releases ran on, 10.5 and 10.6, the bundles load on 10.6. It reads YAML
# descriptions of the dylibs rather than text-based stubs
# (cmake/macos/Stubs.cmake), and it crashes on unwind sections
# (__eh_frame, __compact_unwind): the modules are compiled without unwind
# tables and exceptions, which never cross a module (it links no C++
# runtime).
set(CMAKE_SYSTEM_PROCESSOR i386)
set(SCENEMAP_MACOS_VERSION 10.6)
set(SCENEMAP_MACOS_TARGET i386-apple-macos${SCENEMAP_MACOS_VERSION})
set(SCENEMAP_MACOS_OLD_LINKER ON)
set(SCENEMAP_MACOS_CXX_FLAGS "-fno-asynchronous-unwind-tables -fno-exceptions")
include(${CMAKE_CURRENT_LIST_DIR}/macos-common.cmake)
