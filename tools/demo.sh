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
echo "the picture (demo.png) and the calibration need Octave"
# The demo's camera and every other corner of its board (6 by 5),
# column-major (Y varies fastest).
X=$(awk 'BEGIN { for (j = 0; j < 6; j++) for (i = 0; i < 5; i++) printf "%s%.2f", (j || i) ? "," : "", 0.02 + 0.06 * j }')
Y=$(awk 'BEGIN { for (j = 0; j < 6; j++) for (i = 0; i < 5; i++) printf "%s%.2f", (j || i) ? "," : "", 0.02 + 0.06 * i }')
for kappa in 0 60000 -30000; do
  echo "kappa1 = $kappa: u then v, one row per corner"
  "$build/host/mexrun" "$build/scenemap_mex.mexa64" 2 \
    double:5x6:"$X" double:5x6:"$Y" double:5x6 \
    double:1x1:5e-6 double:1x1:5e-6 double:1x1:1 double:1x1:320 \
    double:1x1:240 double:1x1:0.008 double:1x1:$kappa \
    double:3x3:1,0,0,0,1,0,0,0,1 double:3x1:-0.17,-0.14,0.7 |
    awk '/^out1/ { o = 1; n = 0; next } /^out2/ { o = 2; n = 0; next }
         { n++; if (o == 1) u[n] = $1; else v[n] = $1 }
         END { for (i = 1; i <= n; i++) printf "  %8.2f %8.2f\n", u[i], v[i] }'
done
