#!/bin/sh
# Checks macOS modules with llvm-objdump --macho:
#   check_macos_module.sh OBJDUMP ARCH MINOS STUBDIR MODULE...
# Each module must be a bundle for ARCH (x86_64, arm64 or i386) with the minimum
# macOS version MINOS, export _mexFunction alone, link exactly libSystem,
# libmx, libmex and libmat, bind only symbols that the stub of the dylib it
# binds them from (STUBDIR/<dylib>.tbd) exports, and carry classic dyld
# information (no chained fixups); arm64 modules must be signed; i386 ones
# must hold no non-lazy pointer or stub sections, for which their linker
# writes no rebase or bind information. The export and import tables are
# printed.
set -eu
objdump=$1
arch=$2
minos=$3
stubdir=$4
shift 4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
bad() {
  echo "$module: $*" >&2
  status=1
}
case $arch in
  x86_64) cpu=X86_64 ;;
  arm64) cpu=ARM64 ;;
  i386) cpu=I386 ;;
  *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
for module in "$@"; do
  "$objdump" --macho --private-header "$module" >"$tmp/header"
  awk '$1 ~ /^MH_MAGIC/ { print $2, $5 }' "$tmp/header" >"$tmp/kind"
  [ "$(cat "$tmp/kind")" = "$cpu BUNDLE" ] ||
    bad "not an $arch bundle: $(cat "$tmp/kind")"

  "$objdump" --macho --exports-trie "$module" >"$tmp/exports"
  cat "$tmp/exports"
  exports=$(awk '/^0x/ { print $2 }' "$tmp/exports" | tr '\n' ' ')
  [ "$exports" = "_mexFunction " ] || bad "unexpected exports: $exports"

  "$objdump" --macho --dylibs-used "$module" | awk 'NR > 1 { print $1 }' |
    sort | tr '\n' ' ' >"$tmp/dylibs"
  [ "$(cat "$tmp/dylibs")" = "/usr/lib/libSystem.B.dylib @rpath/libmat.dylib @rpath/libmex.dylib @rpath/libmx.dylib " ] ||
    bad "unexpected dylibs: $(cat "$tmp/dylibs")"

  # Bind and lazy-bind rows end in "dylib symbol"; weak binds must be none.
  "$objdump" --macho --bind --lazy-bind --weak-bind "$module" >"$tmp/binds"
  cat "$tmp/binds"
  awk '/^Weak bind table:/ { weak = 1; next }
       /^__/ { print (weak ? "weak" : $(NF - 1)), $NF }' "$tmp/binds" |
    sort -u >"$tmp/imports"
  while read -r dylib symbol; do
    stub=$stubdir/$dylib.tbd
    if [ ! -f "$stub" ]; then
      bad "binds $symbol from $dylib, which has no stub"
    elif ! sed -n '/symbols:/,/]/p' "$stub" | tr -s '[], ' '\n' |
      grep -qx -- "$symbol"; then
      bad "binds $symbol, which $dylib.tbd does not export"
    fi
  done <"$tmp/imports"

  "$objdump" --macho --private-headers "$module" >"$tmp/commands"
  awk -v want="$minos" '
    /cmd LC_VERSION_MIN_MACOSX/ { min = 1 }
    min && $1 == "version" { found = ($2 == want); min = 0 }
    $1 == "minos" { found = ($2 == want) }
    END { exit !found }' "$tmp/commands" ||
    bad "minimum macOS version is not $minos"
  grep -q 'cmd LC_DYLD_INFO_ONLY' "$tmp/commands" ||
    bad "no LC_DYLD_INFO_ONLY"
  ! grep -q 'cmd LC_DYLD_CHAINED_FIXUPS' "$tmp/commands" ||
    bad "uses chained fixups"
  if [ "$arch" = arm64 ]; then
    grep -q 'cmd LC_CODE_SIGNATURE' "$tmp/commands" || bad "not signed"
  fi
  if [ "$arch" = i386 ]; then
    sections=$(awk '$1 == "sectname" { print $2 }' "$tmp/commands" |
      grep -x -e __pointers -e __stubs -e __stub_helper | tr '\n' ' ')
    [ -z "$sections" ] || bad "sections without fixups: $sections"
  fi
  [ $status -eq 0 ] && echo "$module: $arch bundle, macOS $minos, ok"
done
exit $status
