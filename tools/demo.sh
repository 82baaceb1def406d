#!/bin/sh
# Runs the demo: in Octave when it is installed (printing the table and
# writing <build>/demo.png), otherwise through the bundled stand-in host
# (mexrun) on the MATLAB-interface module (the table only).
set -eu
build=${1:-build}
if [ -z "${SCENEMAP_NO_OCTAVE:-}" ] && command -v octave-cli >/dev/null 2>&1 && [ -f "$build/octave/scenemap_mex.oct" ]; then
  # Octave 7 prints a harmless "ignoring const execution_exception" line at
  # exit; keep every other line of its error stream.
  err=$(mktemp)
  status=0
  octave-cli --no-init-file --no-gui --quiet \
    --eval "addpath('$build/octave'); scenemap_demo('$build/demo.png')" 2>"$err" || status=$?
  grep -v "ignoring const execution_exception" "$err" >&2 || true
  rm -f "$err"
  exit $status
fi

echo "Running the MATLAB-interface module through the stand-in host (mexrun);"
echo "the picture (demo.png) needs Octave"
# The demo's camera and 6-by-4 target, column-major (Y varies fastest).
X=$(awk 'BEGIN { for (j = 0; j < 6; j++) for (i = 0; i < 4; i++) printf "%s%.2f", (j || i) ? "," : "", 0.02 + 0.04 * j }')
Y=$(awk 'BEGIN { for (j = 0; j < 6; j++) for (i = 0; i < 4; i++) printf "%s%.2f", (j || i) ? "," : "", 0.02 + 0.04 * i }')
R=$(awk 'BEGIN { a = 10 * atan2(0, -1) / 180; printf "%.17g,0,%.17g,0,1,0,%.17g,0,%.17g", cos(a), -sin(a), sin(a), cos(a) }')
for kappa in 0 15000 -15000; do
  echo "kappa1 = $kappa: u then v, one row per corner"
  "$build/host/mexrun" "$build/scenemap_mex.mexa64" 2 \
    double:4x6:"$X" double:4x6:"$Y" double:4x6 \
    double:1x1:5e-6 double:1x1:5e-6 double:1x1:1 double:1x1:320 \
    double:1x1:240 double:1x1:0.008 double:1x1:$kappa \
    double:3x3:"$R" double:3x1:-0.12,-0.08,0.6 |
    awk '/^out1/ { o = 1; n = 0; next } /^out2/ { o = 2; n = 0; next }
         { n++; if (o == 1) u[n] = $1; else v[n] = $1 }
         END { for (i = 1; i <= n; i++) printf "  %8.2f %8.2f\n", u[i], v[i] }'
done
