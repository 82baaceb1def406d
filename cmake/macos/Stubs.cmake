# The libraries a macOS module links, SCENEMAP_MODULE_LIBS: libSystem and
# the host's libmx, libmex and libmat, as stubs that name each library's
# install name and the symbols the modules may import from it. The lists
# are written once, as text-based stubs (<lib>.tbd here), which ld64.lld
# reads. LLVM 13's older Mach-O linker (SCENEMAP_MACOS_OLD_LINKER, the i386
# tree) reads its own YAML description of a dylib instead: that is
# generated from the same .tbd into the build tree when CMake runs, which it
# does again when a .tbd changes.
set(SCENEMAP_MACOS_STUB_DIR ${CMAKE_CURRENT_LIST_DIR})
set(libs libSystem libmx libmex libmat)
set(SCENEMAP_MODULE_LIBS)
if(NOT SCENEMAP_MACOS_OLD_LINKER)
  foreach(lib ${libs})
    list(APPEND SCENEMAP_MODULE_LIBS ${SCENEMAP_MACOS_STUB_DIR}/${lib}.tbd)
  endforeach()
  return()
endif()

# The YAML's architecture names: x86 is i386.
set(yaml_arch_i386 x86)
set(yaml_arch ${yaml_arch_${CMAKE_SYSTEM_PROCESSOR}})
if(NOT yaml_arch)
  message(FATAL_ERROR "no dylib description for ${CMAKE_SYSTEM_PROCESSOR}")
endif()
foreach(lib ${libs})
  set(tbd ${SCENEMAP_MACOS_STUB_DIR}/${lib}.tbd)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tbd})
  file(READ ${tbd} text)
  if(NOT text MATCHES "\ninstall-name: *'([^']+)'")
    message(FATAL_ERROR "${tbd}: no install-name")
  endif()
  string(CONCAT yaml "# ${lib}, generated from ${tbd}.\n--- !mach-o\n"
         "arch: ${yaml_arch}\nfile-type: MH_DYLIB\n"
         "install-name: '${CMAKE_MATCH_1}'\n")
  set(symbols)
  if(text MATCHES "\n *symbols: *\\[([^]]*)\\]")
    string(REGEX REPLACE "[ \t\n,]+" ";" symbols "${CMAKE_MATCH_1}")
    list(REMOVE_ITEM symbols "")
  endif()
  if(symbols)
    string(APPEND yaml "exports:\n")
    foreach(symbol ${symbols})
      string(APPEND yaml "  - name: ${symbol}\n")
    endforeach()
  endif()
  string(APPEND yaml "...\n")
  set(out ${CMAKE_BINARY_DIR}/macos-stubs/${lib}.yaml)
  set(old)
  if(EXISTS ${out})
    file(READ ${out} old)
  endif()
  if(NOT old STREQUAL yaml)
    file(WRITE ${out} "${yaml}")
  endif()
  list(APPEND SCENEMAP_MODULE_LIBS ${out})
endforeach()
