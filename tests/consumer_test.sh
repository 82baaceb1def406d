#!/bin/sh
# Installs the build tree into a temporary prefix, checks the installed
# files, then configures, builds and runs tests/consumer against the prefix.
#   consumer_test.sh <build dir> <version> <with octave: 0|1>
set -eu
build=$1 version=$2 octave=$3
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log"
cd "$tmp/prefix"
want="lib/libscenemap_core.a include/scenemap/camera_model.hpp
include/scenemap/image_to_plane.hpp
lib/libscenemap_derivatives.a include/scenemap/derivatives.hpp
share/doc/scenemap/COPYING lib/cmake/scenemap/scenemapConfig.cmake
lib/cmake/scenemap/scenemapConfigVersion.cmake"
for dir in lib/matlab/scenemap $( [ "$octave" = 1 ] && echo lib/octave/scenemap ); do
  ext=mexa64
  [ "$dir" = lib/octave/scenemap ] && ext=oct
  for f in scenemap_mex.$ext scenemapgrad_mex.$ext scenemapinv_mex.$ext \
           scenemap_mex.m scenemapgrad_mex.m scenemapinv_mex.m scenemap.m \
           scenemap_demo.m; do
    want="$want $dir/$f"
  done
done
for f in $want; do
  [ -s "$f" ] || { echo "missing from the install: $f"; exit 1; }
done
# build_mex builds from the source tree and is not installed; no installed
# help text names it.
if grep -il build_mex lib/*/scenemap/*.m; then
  echo "installed help names build_mex, which is not installed"; exit 1
fi
# Installed modules must not point back into the build tree.
if readelf -d lib/matlab/scenemap/scenemap_mex.mexa64 | grep -q "$build"; then
  echo "installed module keeps a run path into the build tree"; exit 1
fi

cmake -S "$here/consumer" -B "$tmp/consumer" -DCMAKE_PREFIX_PATH="$tmp/prefix" \
  -DEXPECTED_VERSION="$version" >"$tmp/configure.log" ||
  { cat "$tmp/configure.log"; exit 1; }
cmake --build "$tmp/consumer" >"$tmp/build.log" || { cat "$tmp/build.log"; exit 1; }
"$tmp/consumer/consumer"

# A version the package does not provide is refused.
if cmake -S "$here/consumer" -B "$tmp/consumer2" \
     -DCMAKE_PREFIX_PATH="$tmp/prefix" -DEXPECTED_VERSION=99.0 \
     >"$tmp/configure2.log" 2>&1; then
  echo "find_package accepted version 99.0"; exit 1
fi
echo "install and consumer ok ($version)"
