#!/bin/sh
# Runs the C++ benchmarks and, when Octave is installed, the Octave ones;
# prints one Markdown table (with callgrind's instructions per point when
# valgrind is installed), then the native Octave functions against their MEX
# builds (time, and peak memory), then the cost of a one-point call in each
# build. Usage: bench/run.sh BUILD_DIR [--smoke]
set -e
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
"$build/bench/core_bench" "$@"
sh "$here/instructions.sh" "$build" "$@"
"$build/bench/inverse_bench" "$@"
if command -v octave-cli >/dev/null 2>&1 && [ -f "$build/octave/scenemap_mex.oct" ]; then
  cd "$here"
  octave-cli --no-init-file --no-gui --quiet -p "$build/octave" \
    -p "$build/bench/octave" bench_octave.m "$@"
  octave-cli --no-init-file --no-gui --quiet -p "$build/octave" bench_calibrate.m "$@"
  smoke=false
  [ "${1:-}" = --smoke ] && smoke=true
  echo
  octave-cli --no-init-file --no-gui --quiet \
    --eval "bench_builds('$build', $smoke)"
  echo
  octave-cli --no-init-file --no-gui --quiet \
    --eval "bench_calls('$build', $smoke)"
fi
