# Rewrites clang's i386 assembly for the older Mach-O linker, which handles
# two things of i386 objects wrongly:
#  - it copies non-lazy pointer sections (__IMPORT,__pointers: the address
#    of a variable of another object or a dylib) but neither rebases nor
#    binds them, leaving the pointers null: each becomes a plain pointer in
#    __DATA,__data, which it rebases or binds;
#  - its stubs for calls into dylibs jump through absolute addresses that
#    it does not list for rebasing, so they fail once the bundle is loaded
#    anywhere but at address 0, i.e. always: each call or tail call of a
#    function defined in no other place of this file goes instead through
#    a local thunk that jumps through such a plain pointer, found
#    position-independently. The thunk uses %eax, which no call of a
#    function with external linkage takes an argument in.
# Thunks and pointers are local symbols (not L-prefixed), so that each is
# an atom of its own to the linker. Run as awk -f i386_imports.awk FILE
# FILE: the first pass collects the symbols the file defines.
FNR == NR {
  if (match($0, /^[_A-Za-z][_A-Za-z0-9$.]*:/))
    defined[substr($0, 1, RLENGTH - 1)] = 1
  next
}
/^[ \t]*\.section[ \t]+__IMPORT,__pointers,non_lazy_symbol_pointers$/ {
  print "\t.section\t__DATA,__data"
  print "\t.p2align\t2"
  next
}
/^[ \t]*\.indirect_symbol[ \t]/ {
  symbol = $2
  if ((getline line) > 0 && line ~ /^[ \t]*\.long[ \t]/) {
    print "\t.long\t" symbol
  } else {
    print "i386_imports.awk: .indirect_symbol without .long" > "/dev/stderr"
    exit 1
  }
  next
}
($1 == "calll" || $1 == "jmp") && (NF == 2 || $3 ~ /^#/) && $2 ~ /^_/ &&
    !($2 in defined) {
  if (!($2 in thunk)) {
    thunk[$2] = ++thunks
    order[thunks] = $2
  }
  print "\t" $1 "\t_scenemap_import" thunk[$2]
  next
}
{ print }
END {
  if (thunks == 0) exit 0
  print "\t.section\t__TEXT,__text,regular,pure_instructions"
  for (i = 1; i <= thunks; ++i) {
    print "\t.p2align\t4, 0x90"
    print "_scenemap_import" i ":"
    print "\tcalll\tLscenemap_import_pc" i
    print "Lscenemap_import_pc" i ":"
    print "\tpopl\t%eax"
    print "\tjmpl\t*(_scenemap_import_ptr" i "-Lscenemap_import_pc" i ")(%eax)"
  }
  print "\t.section\t__DATA,__data"
  print "\t.p2align\t2"
  for (i = 1; i <= thunks; ++i) {
    print "_scenemap_import_ptr" i ":"
    print "\t.long\t" order[i]
  }
}
