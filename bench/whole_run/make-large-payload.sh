#!/bin/sh
# Generates the whole-run benchmark's large payload, the same bytes on every machine with the same Wine:
#   make-large-payload.sh OUT_DIR QUICK_APP QUICK_LIBRARY
# OUT_DIR/Quillmart.exe       12,000,000 bytes: QUICK_APP (an application that exits at once) followed by real
#                             x86-64 machine code, Wine's own libraries stripped, cut at that length;
# OUT_DIR/WebView2Loader.dll  180,000 bytes: QUICK_LIBRARY followed by the same kind of code.
# Appended bytes are not loaded when the program starts, but they compress like a real application does.
set -eu
out=$1; app=$2; library=$3
wine_libraries=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
mkdir -p "$out"
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT
# A fixed header time stamp in the stripped copies: strip would otherwise write the current time.
export SOURCE_DATE_EPOCH=0

# padded SIZE OUT HEAD LIBRARY...: HEAD, then the stripped libraries in the order given, cut at SIZE bytes.
padded() {
  size=$1; target=$2; head=$3; shift 3
  cp "$head" "$work/grown"
  for name in "$@"; do
    [ "$(wc -c <"$work/grown")" -lt "$size" ] || break
    [ -f "$wine_libraries/$name" ] || { echo "make-large-payload: $wine_libraries/$name is missing" >&2; exit 1; }
    x86_64-w64-mingw32-strip -o "$work/$name" "$wine_libraries/$name"
    cat "$work/$name" >>"$work/grown"
  done
  [ "$(wc -c <"$work/grown")" -ge "$size" ] || { echo "make-large-payload: too little code for $target" >&2; exit 1; }
  head -c "$size" "$work/grown" >"$work/cut"
  mv "$work/cut" "$target"
}

# Code-heavy libraries (mostly .text, few resources).
padded 12000000 "$out/Quillmart.exe" "$app" kernelbase.dll wined3d.dll msxml3.dll mshtml.dll user32.dll \
  windowscodecs.dll comctl32.dll
padded 180000 "$out/WebView2Loader.dll" "$library" crypt32.dll
