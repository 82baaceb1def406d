#!/bin/sh
# Proves that two builds give the same result bits: every public function of
# the camera model over the fuzz corpora and a seeded sweep of every regime
# (output_digest), and the three .mexa64 modules of each build through the
# stand-in host, by the second build's module tests, which require each
# module's results bit for bit equal to that build's camera model (the same
# in both builds by the first comparison).
#   sh tools/compare-outputs.sh BEFORE_BUILD AFTER_BUILD
# Each build must have its output_digest built (cmake --build B --target
# output_digest), the second also its module_test. On a difference it says
# where the dumps first differ.
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
if [ -x "$after/tests/module_test" ]; then
  for build in "$before" "$after"; do
    SCENEMAP_TEST_MODULE_DIR=$build SCENEMAP_TEST_MODULE_SUFFIX=.mexa64 \
      "$after/tests/module_test" --gtest_brief=1 >"$tmp/modules" 2>&1 || {
      cat "$tmp/modules" >&2
      echo "the modules of $build differ from the camera model of $after" >&2
      exit 1
    }
  done
  echo "modules: those of both builds equal the camera model bit for bit"
fi
