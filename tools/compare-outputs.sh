#!/bin/sh
# Proves that two builds give the same result bits: every public function of
# the camera model over the fuzz corpora and a seeded sweep of every regime
# (output_digest), and the three .mexa64 modules through the stand-in host
# (tests/compare_modules.sh).
#   sh tools/compare-outputs.sh BEFORE_BUILD AFTER_BUILD
# Each build must have its output_digest built (cmake --build B --target
# output_digest). On a difference it says where the dumps first differ.
set -eu
before=$1
after=$2
top=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$before/tests/output_digest" --dump "$tmp/a.bin" "$top/tests/fuzz/corpus" >"$tmp/a"
"$after/tests/output_digest" --dump "$tmp/b.bin" "$top/tests/fuzz/corpus" >"$tmp/b"
cat "$tmp/b"
if ! cmp -s "$tmp/a" "$tmp/b"; then
  echo "the builds differ:" >&2
  diff "$tmp/a" "$tmp/b" >&2 || true
  cmp "$tmp/a.bin" "$tmp/b.bin" >&2 || true
  exit 1
fi
echo "output_digest: every value identical"
if [ -x "$before/host/mexrun" ]; then
  sh "$top/tests/compare_modules.sh" "$before/host/mexrun" "$before" .mexa64 \
    "$after" .mexa64
fi
