#!/bin/sh
# A module file cut short anywhere (inside the header, the load commands,
# the segments, the dyld information) must be refused by the loader with
# mexrun's "cannot load" status 2, never run or crash:
#   truncated_module.sh MODULE MEXRUN...
# MEXRUN and any words after it are the command that runs mexrun (e.g. a
# cross tree's run-program and its mexrun).
set -eu
module=$1
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
size=$(wc -c <"$module")
ext=${module##*.}
for n in 0 3 4 31 32 100 1000 4096 $((size / 2)) $((size - 1)); do
  head -c "$n" "$module" >"$tmp/cut.$ext"
  status=0
  "$@" "$tmp/cut.$ext" 1 double:1x1:1 >"$tmp/out" 2>&1 || status=$?
  if [ "$status" -ne 2 ]; then
    echo "first $n of $size bytes: status $status, expected 2" >&2
    cat "$tmp/out" >&2
    exit 1
  fi
done
echo "$module: every truncated copy refused"
