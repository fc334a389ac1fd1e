#!/usr/bin/env bash
# Builds Quillmart-Setup.exe and runs it once under Wine, the way a user would start it:
#   - installs what is missing (scripts/install-deps.sh), configures the `windows` preset and builds only what this
#     run needs: the setup (with its payload) and the small Windows-side runner that starts it;
#   - runs build/windows/src/Quillmart-Setup.exe in the build's private Wine prefix with LOCALAPPDATA pointing at a
#     fresh temporary folder (QMT_DATA unset) and a few example arguments;
#   - shows the exit status, the message box text if the setup reported a failure, the files installed in the
#     target folder with their sizes, and what the installed application reports about how it was started.
#
#   bash scripts/build.sh [ARG...]      (the arguments are handed to the setup; default: a few examples)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "$(id -u)" -eq 0 ]; then
  sh scripts/install-deps.sh
elif command -v sudo >/dev/null; then
  sudo sh scripts/install-deps.sh
else
  sh scripts/install-deps.sh
fi

cmake --preset windows
# Not the test programs: scripts/test.sh builds and runs those.
cmake --build --preset windows --target Quillmart-Setup qmt_boxctl

build=$root/build/windows
state=$build/wine
setup=$build/src/Quillmart-Setup.exe
boxctl=$build/tests/harness/qmt_boxctl.exe
[ -f "$setup" ] || { echo "build.sh: $setup was not built" >&2; exit 1; }

# Unix path -> the Windows path Wine gives it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmart-run.XXXXXX")
mkdir -p "$work/LocalAppData"
target=$work/LocalAppData/Programs/Quillmart
if [ $# -eq 0 ]; then
  set -- "Hallo Welt" --zweites-argument "ä ß"
fi

tests/harness/wine-prefix start "$state"
trap 'tests/harness/wine-prefix stop "$state"' EXIT

echo
echo "=== Running Quillmart-Setup.exe under Wine"
echo "LOCALAPPDATA=$(winpath "$work/LocalAppData")   QMT_DATA unset"
printf 'arguments:'; printf ' [%s]' "$@"; echo
# Wine fills LOCALAPPDATA from the prefix's profile, so the setup is started from a Windows-side runner that sets
# the environment exactly, waits for the setup to exit and reads (and closes) a message box if one appears.
set +e
tests/harness/wine-run "$state" "$boxctl" run \
  --set "LOCALAPPDATA=$(winpath "$work/LocalAppData")" --unset QMT_DATA \
  --set "QMT_DEMO_REPORT=$(winpath "$work/report.txt")" \
  --stdout "$(winpath "$work/stdout.txt")" \
  --timeout 60000 -- "$(winpath "$setup")" "$@" >"$work/runner.txt"
set -e
status=$(sed -n 's/^exit //p' "$work/runner.txt")
echo "exit status: ${status:-unknown}"
sed -n 's/^box /message box: /p; /^timed out/p; /^not started/p' "$work/runner.txt"

echo
echo "=== Target folder $(winpath "$target")"
if [ -d "$target" ]; then
  (cd "$target" && find . -mindepth 1 -printf '%10s  %P\n' | sort -k2)
else
  echo "(not created)"
fi

# The application runs on its own after the setup has ended: give it a moment to write its report.
for _ in $(seq 50); do
  [ -f "$work/report.txt" ] || [ ! -f "$target/Quillmart.exe" ] && break
  sleep 0.1
done
echo
echo "=== What the installed application reports"
if [ -s "$work/stdout.txt" ]; then
  echo "standard output:"; sed 's/^/  /' "$work/stdout.txt"
fi
if [ -f "$work/report.txt" ]; then
  echo "report:"; iconv -f UTF-16LE -t UTF-8 "$work/report.txt" | tr '\0' '\n' | sed 's/^/  /'
else
  echo "(no report: the application did not start, or the payload has no demo application)"
fi
echo
echo "Files of this run are kept in $work"
