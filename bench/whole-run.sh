#!/usr/bin/env bash
# Whole-run benchmark: how long one whole setup process takes under Wine, ours against the floor (a plain setup
# written for the comparison, bench/whole_run/floor_setup.cpp) and two NSIS installers of the same two files.
#
#   bash bench/whole-run.sh [--payload demo|large|DIR]... [--samples N] [--build-dir DIR] [--wine-state DIR]
#
#   --payload   demo: the demo stand-ins; large: a generated ~12 MB payload (bench/whole_run/make-large-payload.sh);
#               DIR: a folder with WebView2Loader.dll and Quillmart.exe (its Quillmart.exe must exit by itself).
#               Default: demo and large.
#   --samples   timed runs of each setup in each mode (default 9), after one warm-up round.
#   --build-dir the benchmark's own build folder (default build/whole-run), configured for the Windows cross build
#               when new. It is never a folder configured otherwise: the benchmark sets its own options in that
#               folder's cache (the custom payload), which must not linger in a build folder used for anything else.
#   --wine-state the Wine state folder to use (default: a private one under the build folder, stopped at the end).
#
# For each payload it builds our setup and the floor from the current tree (CMake targets qmt_bench_<payload>) and
# two silent per-user NSIS installers with SetCompressor /SOLID lzma and /SOLID zlib. It then runs each setup
# under Wine, with one wineserver kept alive, in three modes: a fresh target folder; the identical files present;
# the identical library and an older Quillmart.exe of another size present. The runs are interleaved: every
# round runs every mode and every setup (in an order that rotates from round to round), and before each run the
# target folder is prepared and flushed to disk. After each run the installed files are compared with the payload
# and the started application is waited for. Time and page faults are those of the setup's whole Wine process,
# measured from Linux (bench/whole_run/run_timed.c: wall clock around fork and wait4, faults from wait4).
#
# It prints the sizes, each setup's median, min and max time and page faults per mode, and the ratios of the
# medians. It exits non-zero only when the benchmark itself breaks (a build, a run or an installed file failed).
set -euo pipefail
# The whole script is one block, read before it runs: a checkout that changes this file meanwhile cannot derail it.
{
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

payloads=()
samples=9
build=""
state=""
while [ $# -gt 0 ]; do
  case $1 in
  --payload) payloads+=("$2"); shift 2 ;;
  --samples) samples=$2; shift 2 ;;
  --build-dir) build=$2; shift 2 ;;
  --wine-state) state=$2; shift 2 ;;
  -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "whole-run: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
[ ${#payloads[@]} -gt 0 ] || payloads=(demo large)
case $samples in '' | *[!0-9]* | 0) echo "whole-run: --samples takes a positive number" >&2; exit 2 ;; esac

die() { echo "whole-run: $*" >&2; exit 1; }

# ---- build ---------------------------------------------------------------------------------------------------
# The build folder is the benchmark's own: made here and marked in its cache, so that a folder configured
# otherwise (a preset's, which the tests or the user rely on) is refused rather than given the benchmark's options.
[ -n "$build" ] || build=$root/build/whole-run
if [ -f "$build/CMakeCache.txt" ]; then
  grep -q '^QMT_BENCH_OWN_BUILD:INTERNAL=ON$' "$build/CMakeCache.txt" ||
    die "$build is a build folder configured otherwise; give the benchmark a folder of its own"
fi
mkdir -p "$build"
build=$(cd "$build" && pwd)
bench=$build/bench/whole_run
mkdir -p "$bench"
buildlog=$bench/build.log
: >"$buildlog"

# The name of a payload's CMake targets, and its two input files; a custom payload's folder goes into the cache.
names=()
custom_dir=""
for payload in "${payloads[@]}"; do
  case $payload in
  demo | large) names+=("$payload") ;;
  *)
    [ -f "$payload/WebView2Loader.dll" ] && [ -f "$payload/Quillmart.exe" ] ||
      die "$payload holds no WebView2Loader.dll and Quillmart.exe"
    [ -z "$custom_dir" ] || die "only one --payload DIR at a time"
    custom_dir=$(cd "$payload" && pwd)
    names+=(custom) ;;
  esac
done
payload_dir() {
  case $1 in
  demo) echo "$build/payload/demo" ;;
  large) echo "$bench/large" ;;
  custom) echo "$custom_dir" ;;
  esac
}

echo "=== building in $build (log: $buildlog)"
# Configured on every run, so that the cache names this run's custom payload (or none) and a folder configured
# before the benchmark's targets existed learns them.
cmake -S "$root" -B "$build" --toolchain "$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DQMT_BENCH_OWN_BUILD:INTERNAL=ON -DQMT_BENCH_PAYLOAD_DIR="$custom_dir" >>"$buildlog" 2>&1 ||
  die "configuring $build failed (see $buildlog)"
targets=()
for name in "${names[@]}"; do targets+=(--target "qmt_bench_$name"); done
cmake --build "$build" -j 2 "${targets[@]}" >>"$buildlog" 2>&1 || { tail -n 30 "$buildlog" >&2; die "build failed"; }
timer=$bench/run-timed
if [ ! -x "$timer" ] || [ "$here/whole_run/run_timed.c" -nt "$timer" ]; then
  cc -O2 -o "$timer" "$here/whole_run/run_timed.c" || die "building run-timed failed"
fi
command -v makensis >/dev/null || die "makensis is missing (Debian package nsis; scripts/install-deps.sh)"

# nsis_installer COMPRESSOR OUT DLL EXE: a silent per-user installer of the two files (none when DLL is empty:
# the stub) that starts the application, rebuilt when its script or an input changed.
nsis_installer() {
  local compressor=$1 out=$2 dll=$3 exe=$4 script=${2%.exe}.nsi files=""
  if [ -n "$dll" ]; then
    files="  File \"/oname=WebView2Loader.dll\" \"$dll\"
  File \"/oname=Quillmart.exe\" \"$exe\""
  fi
  # 64-bit stubs, like our setup (and Wine here runs no 32-bit programs).
  cat >"$script.new" <<NSI
Target amd64-unicode
SetCompressor /SOLID $compressor
Name "Quillmart"
OutFile "$out"
RequestExecutionLevel user
SilentInstall silent
InstallDir "\$LOCALAPPDATA\\Programs\\Quillmart"
Section
  SetOutPath "\$INSTDIR"
$files
  Exec '"\$INSTDIR\\Quillmart.exe"'
SectionEnd
NSI
  if [ -f "$out" ] && cmp -s "$script.new" "$script" && { [ -z "$dll" ] || { [ "$out" -nt "$dll" ] && [ "$out" -nt "$exe" ]; }; }; then
    rm -f "$script.new"
    return 0
  fi
  mv "$script.new" "$script"
  makensis -V2 "$script" >>"$buildlog" 2>&1 || die "makensis $script failed (see $buildlog)"
}

# older_exe IN OUT: the "older version" of Quillmart.exe: an eighth shorter and, when it is a PE file, with
# another link time stamp, so it differs in size and already in its header.
older_exe() {
  local size lfanew
  size=$(stat -c %s "$1")
  head -c $((size - size / 8)) "$1" >"$2"
  if [ "$(head -c 2 "$2")" = MZ ]; then
    lfanew=$(od -An -tu4 -j60 -N4 "$2" | tr -d ' ')
    printf '\001\002\003\004' | dd of="$2" bs=1 seek=$((lfanew + 8)) conv=notrunc status=none
  fi
}

setups=(ours floor nsis-lzma nsis-zlib)
modes=(fresh identical update)
# The NSIS installers and the older Quillmart.exe of a payload lie in run_<payload>.
for name in "${names[@]}"; do
  dir=$bench/run_$name
  mkdir -p "$dir"
  input=$(payload_dir "$name")
  nsis_installer lzma "$dir/nsis-lzma.exe" "$input/WebView2Loader.dll" "$input/Quillmart.exe"
  nsis_installer zlib "$dir/nsis-zlib.exe" "$input/WebView2Loader.dll" "$input/Quillmart.exe"
  nsis_installer lzma "$dir/nsis-lzma-stub.exe" "" ""
  nsis_installer zlib "$dir/nsis-zlib-stub.exe" "" ""
  older_exe "$input/Quillmart.exe" "$dir/older-Quillmart.exe"
done
setup_exe() {
  case $2 in
  ours) echo "$bench/qmt_bench_$1_setup.exe" ;;
  floor) echo "$bench/qmt_bench_$1_floor.exe" ;;
  nsis-*) echo "$bench/run_$1/$2.exe" ;;
  esac
}

# ---- Wine ------------------------------------------------------------------------------------------------------
own_state=0
if [ -z "$state" ]; then
  state=$bench/wine
  own_state=1
fi
sh "$root/tests/harness/wine-prefix" start "$state" >>"$buildlog" 2>&1 || die "preparing Wine failed (see $buildlog)"
target=""
# The prefix is left without the benchmark's installation, also after a failure; a private prefix is stopped.
finish() {
  [ -z "$target" ] || rm -rf "$target"
  [ $own_state -eq 0 ] || sh "$root/tests/harness/wine-prefix" stop "$state"
}
trap finish EXIT
# shellcheck disable=SC1091
. "$state/env"
# Every setup installs into the Wine user's %LOCALAPPDATA%\Programs\Quillmart; the demo application exits at once
# without a window when QMT_DEMO_LINGER_MS is set.
unset QMT_DATA LOCALAPPDATA QMT_DEMO_REPORT
export QMT_DEMO_LINGER_MS=0
target=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Programs/Quillmart
[ -d "$(dirname "$(dirname "$target")")" ] || die "no AppData\\Local folder at $(dirname "$(dirname "$target")")"
waiter=$bench/qmt_bench_wait_app.exe
runlog=$bench/runs.log
: >"$runlog"

# prepare MODE INPUT_DIR OLDER_EXE: the target folder as the mode wants it, its files on disk.
prepare() {
  rm -rf "$target"
  [ "$1" = fresh ] && return 0
  mkdir -p "$target"
  cp "$2/WebView2Loader.dll" "$target/"
  if [ "$1" = identical ]; then cp "$2/Quillmart.exe" "$target/"; else cp "$3" "$target/Quillmart.exe"; fi
  sync "$target/WebView2Loader.dll" "$target/Quillmart.exe" "$target"
}

# run_once EXE INPUT_DIR LABEL: one timed run; prints "<ms> <cpu ms> <faults> <peak kB>".
run_once() {
  local result=$bench/run.result ms cpu minor major peak status
  "$timer" "$result" 300 "$QMT_WINE" "$1" >>"$runlog" 2>&1 </dev/null || die "$3: run-timed failed"
  read -r ms cpu minor major peak status <"$result"
  [ "$status" = 0 ] || die "$3: the setup ended with status $status (see $runlog)"
  "$QMT_WINE" "$waiter" Quillmart.exe 60000 >>"$runlog" 2>&1 </dev/null ||
    die "$3: the started Quillmart.exe did not end"
  cmp -s "$target/WebView2Loader.dll" "$2/WebView2Loader.dll" && cmp -s "$target/Quillmart.exe" "$2/Quillmart.exe" ||
    die "$3: the target folder does not hold the payload afterwards"
  echo "$ms $cpu $((minor + major)) $peak"
}

results=$bench/results.tsv
: >"$results"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
for name in "${names[@]}"; do
  input=$(payload_dir "$name")
  echo "=== $name: 1 warm-up round and $samples timed rounds of ${#modes[@]} modes x ${#setups[@]} setups"
  for ((round = 0; round <= samples; round++)); do
    for mode in "${modes[@]}"; do
      for ((i = 0; i < ${#setups[@]}; i++)); do
        setup=${setups[$(((i + round) % ${#setups[@]}))]}
        prepare "$mode" "$input" "$bench/run_$name/older-Quillmart.exe"
        figures=$(run_once "$(setup_exe "$name" "$setup")" "$input" "$name/$mode/$setup/round $round")
        [ "$round" -eq 0 ] || printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$mode" "$setup" "$round" "${figures// /$'\t'}" >>"$results"
      done
    done
  done
done
elapsed=$(($(date +%s) - started))

# ---- report ----------------------------------------------------------------------------------------------------
# column NAME MODE SETUP FIELD: that field (5 = ms, 6 = CPU ms, 7 = faults, 8 = peak kB) of every run, in run order.
column() { awk -F'\t' -v n="$1" -v m="$2" -v s="$3" -v f="$4" '$1 == n && $2 == m && $3 == s { print $f }' "$results"; }
# median, min and max of numbers on standard input: "median min max".
summary() {
  sort -g | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1], v[NR] }'
}
size_of() { stat -c %s "$1"; }
streams_of() { awk -F'\t' '$2 ~ /^[0-9]+$/ { s += $2 } END { print s + 0 }' "$bench/qmt_bench_$1_setup.payload/streams.tsv"; }
mb() { awk -v b="$1" 'BEGIN { printf "%.2f MB", b / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
label() {
  local input
  input=$(payload_dir "$1")
  echo "$1 $(mb $(($(size_of "$input/WebView2Loader.dll") + $(size_of "$input/Quillmart.exe"))))"
}
mode_label() {
  case $1 in
  fresh) echo "fresh folder" ;;
  identical) echo "identical files present" ;;
  update) echo "older, different-size Quillmart.exe present" ;;
  esac
}

echo
echo "=== Whole run under Wine: $(date -u '+%Y-%m-%d %H:%M UTC'), $("$QMT_WINE" --version 2>/dev/null), $(makensis -VERSION)"
if revision=$(git -C "$root" rev-parse --short HEAD 2>/dev/null); then
  git -C "$root" diff --quiet HEAD || revision="$revision (with changes)"
else
  revision="(not a git checkout)"
fi
echo "source $revision," \
  "samples: $samples per figure after 1 warm-up round, interleaved; runs took ${elapsed} s;" \
  "load average before $load_before, after $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "Payloads"
echo
for name in "${names[@]}"; do
  input=$(payload_dir "$name")
  for file in WebView2Loader.dll Quillmart.exe; do
    echo "  $name: $file $(size_of "$input/$file") bytes, sha256 $(sha256sum "$input/$file" | cut -c1-16)"
  done
done
echo
echo "Sizes (stub: the setup without its payload; NSIS: the same installer without files)"
echo
echo "| payload | setup | size | stub |"
echo "|---|---|---:|---:|"
for name in "${names[@]}"; do
  streams=$(streams_of "$name")
  for setup in "${setups[@]}"; do
    size=$(size_of "$(setup_exe "$name" "$setup")")
    case $setup in
    nsis-*) stub=$(size_of "$bench/run_$name/$setup-stub.exe") ;;
    *) stub=$((size - streams)) ;;
    esac
    echo "| $(label "$name") | $setup | $size | $stub |"
  done
done
echo
echo "Wall time of the whole Wine process in ms (median, min, max), its CPU time (user + system, median), its peak"
echo "resident set in MB (median; it includes Wine's own) and its page faults (minor + major, from wait4: the median,"
echo "then each run in run order)"
echo
echo "| payload | mode | setup | median | min | max | CPU | peak | faults | faults of each run |"
echo "|---|---|---|---:|---:|---:|---:|---:|---:|---|"
declare -A median cpu_median
for name in "${names[@]}"; do
  for mode in "${modes[@]}"; do
    for setup in "${setups[@]}"; do
      read -r med lo hi < <(column "$name" "$mode" "$setup" 5 | summary)
      read -r cmed _ _ < <(column "$name" "$mode" "$setup" 6 | summary)
      read -r fmed _ _ < <(column "$name" "$mode" "$setup" 7 | summary)
      read -r pmed _ _ < <(column "$name" "$mode" "$setup" 8 | summary)
      median[$name/$mode/$setup]=$med
      cpu_median[$name/$mode/$setup]=$cmed
      printf '| %s | %s | %s | %.1f | %.1f | %.1f | %.1f | %.1f | %.0f | %s |\n' "$(label "$name")" \
        "$(mode_label "$mode")" "$setup" "$med" "$lo" "$hi" "$cmed" "$(awk -v k="$pmed" 'BEGIN { print k / 1024 }')" \
        "$fmed" "$(column "$name" "$mode" "$setup" 7 | paste -sd' ')"
    done
  done
done
# ratios TITLE ARRAY: the table of ours against the others, from the medians in ARRAY.
ratios() {
  local -n of=$2
  echo
  echo "$1"
  echo
  echo "| payload | mode | ours / floor | ours / NSIS lzma solid | ours / NSIS zlib solid |"
  echo "|---|---|---:|---:|---:|"
  for name in "${names[@]}"; do
    for mode in "${modes[@]}"; do
      ours=${of[$name/$mode/ours]}
      echo "| $(label "$name") | $(mode_label "$mode") | $(ratio "$ours" "${of[$name/$mode/floor]}") |" \
        "$(ratio "$ours" "${of[$name/$mode/nsis-lzma]}") | $(ratio "$ours" "${of[$name/$mode/nsis-zlib]}") |"
    done
  done
}
ratios "Ratios of the wall-time medians" median
# CPU time leaves out waiting and the wineserver's share, but varies less on a busy machine.
ratios "For comparison: ratios of the CPU-time medians" cpu_median
exit
}
