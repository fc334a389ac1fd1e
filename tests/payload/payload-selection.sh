#!/bin/sh
# Which files the build embeds:  payload-selection.sh CMAKE SOURCE_DIR SCRATCH_DIR
# One build folder is configured against payload folders in each state; then, with both files present, a file is
# replaced by one of the same size and time stamp and the payload must be packed again (and not packed again
# when nothing changed); last, files added to a folder configured while empty are embedded by the next build.
set -u
cmake=$1 source_dir=$2 scratch=$3
build=$scratch/build
rm -rf "$scratch"
mkdir -p "$scratch"
. "$(dirname "$0")/../harness/checks.sh"

configure() {
  "$cmake" -S "$source_dir" -B "$build" --toolchain "$source_dir/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQMT_PAYLOAD_DIR="$1" >"$scratch/configure.log" 2>&1
}

# Prepares folder $1 in state $2.
make_payload() {
  dir=$scratch/$1
  mkdir -p "$dir"
  case $2 in
    both) printf 'loader-1\n' >"$dir/WebView2Loader.dll"; printf 'application-1\n' >"$dir/Quillmart.exe" ;;
    dll-only) printf 'loader-1\n' >"$dir/WebView2Loader.dll" ;;
    exe-folder) printf 'loader-1\n' >"$dir/WebView2Loader.dll"; mkdir "$dir/Quillmart.exe" ;;
    neither) printf 'notes\n' >"$dir/README.txt" ;;
    absent) rmdir "$dir" ;;
  esac
}

# state | configure must succeed | its output must contain
while IFS='|' read -r state succeeds expected; do
  make_payload "$state" "$state"
  expected=$(printf '%s' "$expected" | sed "s|DIR|$scratch/$state|")
  if configure "$scratch/$state"; then outcome=yes; else outcome=no; fi
  [ "$outcome" = "$succeeds" ] || fail "$state: configure succeeded=$outcome, expected $succeeds"
  grep -qF -- "$expected" "$scratch/configure.log" || fail "$state: configure output lacks: $expected"
  echo "case $state: configure succeeded=$outcome"
done <<'EOF'
dll-only|no|Payload file DIR/Quillmart.exe is missing
exe-folder|no|Payload file DIR/Quillmart.exe is a folder, not a file
absent|no|Payload folder DIR does not exist
neither|yes|DEMO payload: DIR holds no release files
EOF
# The demo warning is repeated by every build of the setup.
"$cmake" --build "$build" --target qmt_demo_payload_notice 2>&1 |
  grep -qF "DEMO payload: $scratch/neither holds no release files" ||
  fail "neither: the build does not print the demo warning"

make_payload both both
configure "$scratch/both" || fail "both: configure failed"
grep -qF "Payload: $scratch/both" "$scratch/configure.log" || fail "both: configure does not name the folder"
stream=$build/src/Quillmart-Setup.payload/stream2.zlib
pack() {
  "$cmake" --build "$build" -j2 --target Quillmart-Setup_payload >"$scratch/build.log" 2>&1 || fail "$1: build failed"
}
pack "both"
cp "$stream" "$scratch/stream-before"
sleep 1
pack "unchanged"
[ "$(find "$stream" -newer "$scratch/stream-before")" = "" ] || fail "unchanged inputs were packed again"
# Same length, same time stamp, other bytes.
touch -r "$scratch/both/Quillmart.exe" "$scratch/stamp"
printf 'application-2\n' >"$scratch/both/Quillmart.exe"
touch -r "$scratch/stamp" "$scratch/both/Quillmart.exe"
pack "replaced"
cmp -s "$stream" "$scratch/stream-before" &&
  fail "a replaced file of the same size and time stamp was not packed again"

# A folder configured while empty that is then given both files: the next build alone, with no configuration by
# hand, embeds them. The files come later than the configuration, as they would from a person (file times decide).
mkdir "$scratch/added"
configure "$scratch/added" || fail "added: configuring with the empty folder failed"
sleep 1
printf 'loader-3\n' >"$scratch/added/WebView2Loader.dll"
printf 'application-3\n' >"$scratch/added/Quillmart.exe"
"$cmake" --build "$build" -j2 --target Quillmart-Setup >"$scratch/build.log" 2>&1 || fail "added: build failed"
"$build/tools/host/qmt-payload-check" "$build/src/Quillmart-Setup.exe" "$scratch/added/WebView2Loader.dll" \
  "$scratch/added/Quillmart.exe" >"$scratch/check.log" 2>&1 ||
  fail "added: the release check does not find the added files in the setup: $(tail -n 1 "$scratch/check.log")"

finish "payload selection: all cases passed"
