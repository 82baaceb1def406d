#!/bin/sh
# Checks the export and import tables of Windows modules with objdump -p:
#   check_windows_module.sh OBJDUMP DEFDIR MODULE...
# Each module must export mexFunction alone and import only libmx.dll,
# libmex.dll, the C runtime (msvcrt.dll) and KERNEL32.dll; the libmx and
# libmex functions the modules import together must be exactly those listed
# in DEFDIR/libmx.def and DEFDIR/libmex.def.
set -eu
objdump=$1
defdir=$2
shift 2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
: >"$tmp/used"
for module in "$@"; do
  "$objdump" -p "$module" >"$tmp/p"
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
                 on && NF == 0 { on = 0 }
                 on { print $NF }' "$tmp/p")
  if [ "$exports" != "mexFunction" ]; then
    echo "$module: unexpected exports:" $exports >&2
    status=1
  fi
  # "DLL Name: X" then "vma: Hint/Ord Member-Name ..." then one import a line.
  awk '/DLL Name:/ { dll = $3; next }
       /vma:/ { next }
       NF == 0 { if (dll != "") dll = "" ; next }
       dll != "" && NF >= 3 { print dll, $3 }' "$tmp/p" >"$tmp/imports"
  dlls=$(cut -d' ' -f1 "$tmp/imports" | sort -u | tr '\n' ' ')
  if [ "$dlls" != "KERNEL32.dll libmex.dll libmx.dll msvcrt.dll " ]; then
    echo "$module: unexpected DLL imports: $dlls" >&2
    status=1
  fi
  echo "$module exports: $exports; imports: $dlls"
  grep -E '^libm(x|ex)\.dll ' "$tmp/imports" | cut -d' ' -f2 >>"$tmp/used"
done
sort -u "$tmp/used" >"$tmp/used.sorted"
awk 'FNR == 1 { on = 0 } /^EXPORTS/ { on = 1; next } on && NF { print $1 }' \
  "$defdir/libmx.def" "$defdir/libmex.def" | sort -u >"$tmp/listed"
if ! cmp -s "$tmp/used.sorted" "$tmp/listed"; then
  echo "host functions imported differ from the .def lists:" >&2
  diff "$tmp/listed" "$tmp/used.sorted" >&2 || true
  status=1
fi
exit $status
