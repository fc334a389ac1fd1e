#!/bin/sh
# Builds the setup executable twice from the same tree in two fresh folders whose paths differ (also in length)
# and compares the results byte for byte:  reproducible-build.sh SOURCE_DIR
# Only the Quillmart-Setup target (and what it needs) is built, with -j2.
set -u
source_dir=$1
base=$(mktemp -d /tmp/qmt-repro.XXXXXX)
trap 'rm -rf "$base"' EXIT
a=$base/a/xx
b=$base/bb/yyyy

build() {
  cmake -S "$source_dir" -B "$1" --toolchain "$source_dir/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >"$1.log" 2>&1 &&
    cmake --build "$1" -j2 --target Quillmart-Setup >>"$1.log" 2>&1 || {
    echo "FAIL: the build in $1 failed:"
    tail -n 30 "$1.log"
    exit 1
  }
}

mkdir -p "$a" "$b"
build "$a"
build "$b"
exe_a=$a/src/Quillmart-Setup.exe
exe_b=$b/src/Quillmart-Setup.exe
if cmp "$exe_a" "$exe_b"; then
  echo "reproducible: both builds gave the same $(wc -c <"$exe_a") bytes"
else
  echo "FAIL: the two builds differ"
  exit 1
fi
