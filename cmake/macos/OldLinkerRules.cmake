# Rules for the i386 tree (cmake/toolchains/macos-i386.cmake), whose older
# Mach-O linker needs two things of its input:
#  - each object is compiled to assembly, rewritten by i386_imports.awk
#    (the linker's non-lazy pointers and stubs are wrong), then assembled;
#    the dependency file comes from the first step;
#  - a bundle is linked without -headerpad_max_install_names, which the
#    linker does not know (nothing rewrites the modules' install names).
set(rewrite ${CMAKE_CURRENT_LIST_DIR}/i386_imports.awk)
set(CMAKE_CXX_COMPILE_OBJECT
    "<CMAKE_CXX_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -S -o <OBJECT>.s <SOURCE>"
    "awk -f ${rewrite} <OBJECT>.s <OBJECT>.s > <OBJECT>.linkable.s"
    "<CMAKE_CXX_COMPILER> --target=${CMAKE_CXX_COMPILER_TARGET} -c -o <OBJECT> <OBJECT>.linkable.s")
set(CMAKE_SHARED_MODULE_CREATE_C_FLAGS "-bundle")
set(CMAKE_SHARED_MODULE_CREATE_CXX_FLAGS "-bundle")
