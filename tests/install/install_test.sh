#!/usr/bin/env bash
# Installs the library into a temporary prefix and moves the prefix (nothing installed may depend on
# where it was put), then builds host.cpp against it through pkg-config and through
# find_package(Ombrix), and checks that each host loads the installed library by its SONAME and
# reads a WAV file written here.
# Usage: install_test.sh CMAKE BUILD_DIR LIBDIR VERSION CXX GENERATOR
set -euo pipefail
cmake=$1 build=$2 libdir_name=$3 version=$4 cxx=$5 generator=$6
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
# cmake --install records what it installed in the build tree; put back whatever record was there.
manifest=$build/install_manifest.txt
[ ! -e "$manifest" ] || cp -p "$manifest" "$work/manifest"
cleanup() {
  if [ -e "$work/manifest" ]; then mv "$work/manifest" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$cmake" --install "$build" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$work/prefix"
prefix=$work/prefix
libdir=$prefix/$libdir_name

fail() { echo "FAIL: $*" >&2; exit 1; }

# The umbrella header is all a host includes: it must bring in every public header.
for header in "$prefix"/include/ombrix/*.h; do
  name=$(basename "$header")
  [ "$name" = ombrix.h ] || grep -q "^#include \"$name\"" "$prefix/include/ombrix/ombrix.h" ||
    fail "ombrix.h does not include $name"
done

# 16-bit little-endian values, written as bytes.
le16() {
  local lo hi
  printf -v lo %02x $(($1 & 255))
  printf -v hi %02x $((($1 >> 8) & 255))
  printf %b "\\x$lo\\x$hi"
}
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16)); }

# PCM 16-bit stereo 44100 Hz, 1000 sample frames: frame i holds i on the left and -i on the right.
frames=1000
data=$((frames * 4))
{
  printf RIFF; le32 $((36 + data)); printf WAVEfmt\ ; le32 16
  le16 1; le16 2; le32 44100; le32 176400; le16 4; le16 16
  printf data; le32 $data
  for ((i = 0; i < frames; i++)); do le16 $i; le16 $((-i)); done
} > "$work/tone.wav"
expected="valid=1 samples=1000 rate=44100 channels=2 bits=16 loaded=1 frame700=700,-700"

# Runs a host (with the environment given first) and checks which library it loads and what it prints.
check() {
  local how=$1 host=$2 loaded printed
  shift 2
  loaded=$(env "$@" ldd "$host" | grep 'libombrix' || true)
  [[ $loaded == *"libombrix.so.${version%%.*} => $libdir/libombrix.so.${version%%.*} "* ]] ||
    fail "$how: the host does not load the installed library by its SONAME: ${loaded:-no libombrix}"
  printed=$(env "$@" "$host" "$work/tone.wav")
  [ "$printed" = "$expected" ] || fail "$how: printed '$printed', expected '$expected'"
  echo "$how: $printed"
}

[ -e "$libdir/libombrix.so.$version" ] || fail "no $libdir_name/libombrix.so.$version"

export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion ombrix)" = "$version" ] || fail "ombrix.pc gives version $(pkg-config --modversion ombrix)"
"$cxx" -o "$work/pkgconfig-host" "$here/host.cpp" $(pkg-config --cflags --libs ombrix)
check pkg-config "$work/pkgconfig-host" LD_LIBRARY_PATH="$libdir"

"$cmake" -S "$here" -B "$work/cmake-host" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$prefix" -DOMBRIX_VERSION="$version" >/dev/null
"$cmake" --build "$work/cmake-host" >/dev/null
check find_package "$work/cmake-host/host"
