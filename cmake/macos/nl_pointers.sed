# Rewrites clang's i386 assembly for the older Mach-O linker: a non-lazy
# pointer (the address of a variable of another object or dylib) becomes a
# plain pointer in __DATA,__data, which the linker rebases or binds. That
# linker copies __IMPORT,__pointers sections but neither rebases nor binds
# their indirect symbols, which would leave the pointers null.
s/^[[:space:]]*\.section[[:space:]]*__IMPORT,__pointers,non_lazy_symbol_pointers$/	.section	__DATA,__data\
	.p2align	2/
/^[[:space:]]*\.indirect_symbol[[:space:]]/{
N
s/^[[:space:]]*\.indirect_symbol[[:space:]]*\([^[:space:]]*\)\n[[:space:]]*\.long[[:space:]].*$/	.long	\1/
}
