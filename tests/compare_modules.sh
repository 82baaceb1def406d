#!/bin/sh
# Runs the same calls through two builds of the modules with mexrun --hex and
# requires the same output, bit for bit, errors included:
#   compare_modules.sh MEXRUN DIR1 SUFFIX1 DIR2 SUFFIX2 [MEXRUN2...]
# MEXRUN2, a command and its first words (e.g. another build's run-program
# and mexrun), runs the second build's modules; by default MEXRUN does.
set -eu
mexrun=$1
dir1=$2
suffix1=$3
dir2=$4
suffix2=$5
shift 5
[ $# -gt 0 ] || set -- "$mexrun"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A 3-by-4 grid with an absent point (X = 0) and a point behind the camera,
# seen by a tilted camera, for each kind of distortion (none, barrel,
# pincushion, strong pincushion past the fold).
grid="double:3x4:0.05,0.08,0,0.11,0.14,0.17,0.2,-0.7,0.26,0.29,0.32,0.35
double:3x4:0.02,0.05,0.08,0.11,0.14,0.17,0.2,0.23,0.26,0.29,0.32,0.35
double:3x4:0,0.004,0.008,0,-2,0.02,0,0.004,0.008,0.012,0.016,0.02"
camera="double:1x1:5e-6 double:1x1:5.2e-6 double:1x1:1.01 double:1x1:320
double:1x1:240 double:1x1:0.008"
pose="double:3x3:0.980067,0,0.198669,0,1,0,-0.198669,0,0.980067
double:3x1:-0.1,-0.07,0.6"
# Points ever closer to the axis of an untilted camera, with a |kappa1| so
# large that they take the scaled solve through each of its branches
# (series, one root, three roots, past the fold; a subnormal radius first).
near="double:2x3:1e-158,1e-55,1e-52,1e-51,1.5e-51,1e-50
double:2x3:5e-159,5e-56,5e-53,5e-52,7.5e-52,5e-51 double:2x3:0,0,0,0,0,0"
axial="double:3x3:1,0,0,0,1,0,0,0,1 double:3x1:0,0,1"
run() {
  dir=$1
  suffix=$2
  shift 2
  for kappa1 in 0 2.5e4 -2.5e4 -2.5e5; do
    # shellcheck disable=SC2086
    "$@" --hex "$dir/scenemap_mex$suffix" 2 $grid $camera \
      "double:1x1:$kappa1" $pose
    # shellcheck disable=SC2086
    "$@" --hex "$dir/scenemapgrad_mex$suffix" 3 $grid $camera \
      "double:1x1:$kappa1" $pose
    # The back-projection takes the grid's X and Y as pixels u and v.
    # shellcheck disable=SC2086
    "$@" --hex "$dir/scenemapinv_mex$suffix" 3 $grid $camera \
      "double:1x1:$kappa1" $pose
  done
  for kappa1 in 1e105 -1e105; do
    # shellcheck disable=SC2086
    "$@" --hex "$dir/scenemapgrad_mex$suffix" 3 $near $camera \
      "double:1x1:$kappa1" $axial
  done
  # A misuse: the error id and message.
  "$@" "$dir/scenemapgrad_mex$suffix" 1 double:1x1:1 || true
}
run "$dir1" "$suffix1" "$mexrun" >"$tmp/a"
run "$dir2" "$suffix2" "$@" >"$tmp/b"
if ! cmp -s "$tmp/a" "$tmp/b"; then
  echo "$dir1/*$suffix1 and $dir2/*$suffix2 differ:" >&2
  diff "$tmp/a" "$tmp/b" >&2 || true
  exit 1
fi
echo "$(grep -c '^[0-9a-f]\{16\}$' "$tmp/a") values and the error identical" \
  "in $dir1/*$suffix1 and $dir2/*$suffix2"
