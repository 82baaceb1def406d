#!/bin/sh
# Instructions per point of the walks and of their floors, counted by
# callgrind (deterministic, unlike times on a shared machine): each walk runs
# once over the points of a case with collection on for that call alone
# (core_bench --instructions). Prints rows for core_bench's Markdown table;
# prints nothing without valgrind.
#   sh bench/instructions.sh BUILD_DIR [--smoke]
set -eu
build=$1
points=100000
[ "${2:-}" = --smoke ] && points=1000
command -v valgrind >/dev/null 2>&1 || exit 0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Instructions per point of one side; the case's name goes to $tmp/name.
count() {
  valgrind --tool=callgrind --collect-atstart=no \
    --callgrind-out-file="$tmp/out" \
    "$build/bench/core_bench" --instructions "$1" "$2" "$points" \
    >"$tmp/name" 2>"$tmp/log" || {
    cat "$tmp/log" >&2
    exit 1
  }
  awk -v n="$points" '/^(summary|totals):/ { print $2 / n; exit }' "$tmp/out"
}
for kase in 0 1; do
  for op in proj deriv; do
    walk=$(count "$op" "$kase")
    floor=$(count "$op-floor" "$kase")
    suite="C++ projection / floor"
    [ "$op" = deriv ] && suite="C++ proj+derivatives / floor"
    awk -v s="$suite, instructions per point" -v c="$(cat "$tmp/name")" \
      -v n="$points" -v a="$walk" -v b="$floor" \
      'BEGIN { printf "| %s | %s | %d | %.0f | %.0f | %.3f |  |\n", s, c, n, a, b, a / b }'
  done
done
