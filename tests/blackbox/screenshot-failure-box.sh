#!/bin/sh
# Shows the setup's failure box for real and photographs it:
#   screenshot-failure-box.sh BOXCTL SETUP PNG [ARG...]
# Runs SETUP (with ARGs) under the build's Wine prefix ($QMT_WINE_STATE) with QMT_DATA and LOCALAPPDATA both
# unset, waits for its "Quillmart" box and checks its text, saves a screenshot of the Xvfb display as PNG, closes
# the box with OK and checks that the setup then exits with status 0.
set -eu
boxctl=$1; setup=$2; png=$3; shift 3
expected="Der Ordner LOCALAPPDATA wurde nicht gefunden."
harness=$(cd "$(dirname "$0")/../harness" && pwd)
state=${QMT_WINE_STATE:?names the Wine state folder of the build}

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
fail() { echo "screenshot-failure-box: $*" >&2; exit 1; }

"$harness/wine-prefix" start "$state"
. "$state/env"
work=$(mktemp -d "$state/screenshot.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -f "$png"

# The runner leaves the box open (--keep-box) so that it can be photographed; it reports the exit status once the
# box has been closed below.
"$harness/wine-run" "$state" "$boxctl" run --unset QMT_DATA --unset LOCALAPPDATA --keep-box --timeout 60000 \
  -- "$(winpath "$setup")" "$@" >"$work/run.txt" 2>&1 &
runner=$!

"$harness/wine-run" "$state" "$boxctl" wait-text --timeout 30000 >"$work/text.txt" || {
  kill "$runner" 2>/dev/null; cat "$work/text.txt"; fail "no Quillmart box appeared"; }
text=$(cat "$work/text.txt")
echo "box text: $text"
[ "$text" = "$expected" ] || { "$harness/wine-run" "$state" "$boxctl" close; wait "$runner"; fail "unexpected text"; }

# The display's root window holds nothing but the box: cut away the empty background around it.
xwd -root -silent -display "$DISPLAY" | convert xwd:- -trim +repage "$png"
"$harness/wine-run" "$state" "$boxctl" close
wait "$runner" || true
cat "$work/run.txt"

[ -f "$png" ] || fail "no screenshot written"
size=$(stat -c %s "$png")
geometry=$(identify -format '%wx%h' "$png")
echo "screenshot: $png, $size bytes, $geometry pixels"
[ "$size" -gt 2000 ] || fail "screenshot is too small to show anything"
width=${geometry%x*}; height=${geometry#*x}
[ "$width" -ge 150 ] && [ "$height" -ge 60 ] && [ "$width" -lt 1024 ] || fail "screenshot is not one box: $geometry"
grep -qx "exit 0" "$work/run.txt" || fail "the setup did not exit with status 0 after the box was closed"
