#!/bin/sh
# Checks that a module's dynamic symbol table defines exactly one global
# symbol, mexFunction, under the version MEX.
set -eu
module=$1
# Defined (section index not UND) global or weak symbols, versions included.
# The linker also emits an absolute symbol named after the version node
# itself (MEX); that one defines no code or data.
defined=$(readelf --dyn-syms --wide "$module" |
  awk '($5 == "GLOBAL" || $5 == "WEAK") && $7 != "UND" &&
       !($7 == "ABS" && $8 == "MEX") { print $8 }')
if [ "$defined" != "mexFunction@@MEX" ]; then
  echo "unexpected exports in $module:" >&2
  echo "$defined" >&2
  exit 1
fi
echo "$module exports only mexFunction@@MEX"
