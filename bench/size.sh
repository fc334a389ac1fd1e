#!/bin/sh
# Prints the size of the setup's own code and resources: the executable minus its payload streams.
#   bench/size.sh [BUILD_DIR]     (default: build/windows)
# The streams' sizes come from <build>/payload/streams.tsv, written by the build (name, compressedSize,
# unpackedSize, firstTwoBytes, adler). The goal is under 64 KiB, icons included.
set -eu
build=${1:-build/windows}
exe=$build/src/Quillmart-Setup.exe
tsv=$build/payload/streams.tsv
[ -f "$exe" ] || { echo "size: $exe not found (build the Quillmart-Setup target first)" >&2; exit 1; }

total=$(wc -c <"$exe")
echo "executable                $total bytes  ($exe)"
if [ -f "$tsv" ]; then
  streams=0
  # Data rows only: the size column is numeric.
  while IFS="$(printf '\t')" read -r name compressed _; do
    case $compressed in '' | *[!0-9]*) continue ;; esac
    echo "payload stream            $compressed bytes  ($name)"
    streams=$((streams + compressed))
  done <"$tsv"
else
  echo "payload                   none found ($tsv missing): the whole executable is counted"
  streams=0
fi
own=$((total - streams))
rsrc=$(x86_64-w64-mingw32-objdump -h "$exe" 2>/dev/null | awk '$2 == ".rsrc" { print $3 }')
[ -n "$rsrc" ] && echo "resources (.rsrc)         $((0x$rsrc)) bytes  (icons and version)"
echo "own code and resources    $own bytes  = $((own / 1024)) KiB (goal: under 64 KiB)"
