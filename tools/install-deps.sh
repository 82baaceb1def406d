#!/bin/sh
# Installs the packages scenemap needs, as root, on Debian 12 or a current
# Ubuntu with nothing installed beforehand. Without arguments: what `make`,
# `make demo` and `make test` need. Each argument adds the packages of one
# extra run:
#   reliability  make test-sanitize, fuzz, test-valgrind (clang, its
#                sanitizer and libFuzzer runtimes, valgrind)
#   windows      make windows, test-windows (mingw-w64, Wine 64- and 32-bit)
#   macos        the macOS cross build and its runs (clang, lld, LLVM's
#                tools; lld-13 for its older Mach-O linker, which writes
#                i386 bundles; the i386 list and the aarch64 Linux target
#                libraries, for the loaders that run the bundles)
#   i386         the 32-bit x86 Linux build and its tests (multilib
#                compilers, qemu's user-mode emulator)
#   bench        make bench (Google Benchmark)
#   all          every one of them
# --list prints the packages instead of installing them.
#
#   sudo sh tools/install-deps.sh [--list] [PURPOSE...]
#
# The lists are read through eval and split into words on purpose.
# shellcheck disable=SC2034,SC2086
set -eu

# The package lists, one per purpose: the only place they are written.
# base: CMake, the compilers and make; GoogleTest; Octave and its headers
# (mkoctfile) for the Octave modules and tests; for the demo's picture
# without a display, gnuplot (Octave's headless plotting toolkit), the font
# Octave draws text with and Ghostscript for print; awk for the scripts.
base='make cmake g++ binutils gawk libgtest-dev
      octave liboctave-dev gnuplot-nox fonts-freefont-otf ghostscript'
# clang's runtimes come in a package named after its version (CLANG).
reliability='clang libclang-rt-CLANG-dev valgrind'
# googletest: its sources, built by each cross compiler.
windows='g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
         wine wine64 wine32:i386'
# The i386 bundles run in the i386 Linux tree, so macos includes i386. The
# arm64 ones run through a loader that clang builds for aarch64 Linux against
# Debian's cross target libraries (GCC: the version of the default g++), run
# under qemu-aarch64: Debian's aarch64 cross compiler itself conflicts with
# gcc-multilib.
macos='clang lld llvm lld-13 libstdc++-GCC-dev-arm64-cross
       binutils-aarch64-linux-gnu qemu-user googletest gcc-multilib
       g++-multilib'
i386='gcc-multilib g++-multilib qemu-user googletest'
bench='libbenchmark-dev'
purposes='reliability windows macos i386 bench'

usage() {
  echo "usage: sh tools/install-deps.sh [--list] [all | $purposes]..." >&2
  exit 2
}

list=no
chosen=
for arg in "$@"; do
  case $arg in
    --list) list=yes ;;
    all) chosen="$chosen $purposes" ;;
    reliability | windows | macos | i386 | bench) chosen="$chosen $arg" ;;
    -h | --help) usage ;;
    *) echo "install-deps.sh: unknown purpose '$arg'" >&2; usage ;;
  esac
done

packages=$base
for purpose in $chosen; do
  eval "packages=\"\$packages \$$purpose\""
done
packages=$(printf '%s\n' $packages | sort -u)

updated=no
update() {
  if [ $updated = no ] && [ $list = no ]; then
    apt-get update -q
    updated=yes
  fi
}
if [ $list = no ] && [ "$(id -u)" != 0 ]; then
  echo "install-deps.sh: run as root: sudo sh tools/install-deps.sh $*" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

# Package names with a version in them: CLANG stands for the version of the
# distribution's default clang (its runtimes), GCC for that of the default
# g++ (the cross target's C++ library). The package PKG depends on
# PKG-<version>.
default_version() {
  apt-cache depends "$1" 2>/dev/null |
    sed -n "s/^ *Depends: $1-\([0-9][0-9]*\)\$/\1/p" | head -n 1
}
fill_version() {  # PLACEHOLDER PKG
  case $packages in
    *$1*)
      version=$(default_version "$2")
      if [ -z "$version" ]; then
        update
        version=$(default_version "$2")
      fi
      if [ -n "$version" ]; then
        packages=$(printf '%s\n' $packages | sed "s/$1/$version/")
      elif [ $list = no ]; then
        echo "install-deps.sh: cannot tell the version of $2" >&2
        exit 1
      fi
      ;;
  esac
}
fill_version CLANG clang
fill_version GCC g++
if [ $list = yes ]; then
  printf '%s\n' $packages
  exit 0
fi

missing=
for p in $packages; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'ok installed' ||
    missing="$missing $p"
done
if [ -z "$missing" ]; then
  echo "install-deps.sh: everything is installed"
  exit 0
fi

case $missing in
  *:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 ||
      { dpkg --add-architecture i386; updated=no; }
    ;;
esac
update
apt-get install -y -q --no-install-recommends $missing
echo "install-deps.sh: installed$missing"
