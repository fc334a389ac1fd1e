#!/bin/bash
# The whole release command on the demo payload:  release-run.sh SOURCE_DIR BOXCTL_EXE SCRATCH_DIR
# (QMT_WINE_STATE: the running Wine prefix.) A fresh zopfli build signed with a throwaway key must verify, pass the
# release check, report what it made, and the signed setup must still install and start the application under Wine.
set -u
source_dir=$1 boxctl=$2 scratch=$3
rm -rf "$scratch"
keys=$scratch/keys
. "$(dirname "$0")/keys.sh"
. "$(dirname "$0")/../harness/checks.sh"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

mkdir -p "$scratch/empty"
out=$scratch/out/Quillmart-Setup.exe
SOURCE_DATE_EPOCH=$(date +%s) bash "$source_dir/scripts/release.sh" --demo --payload "$scratch/empty" \
  --cert "$keys/signer.pem" --key "$keys/signer.key" --ca "$keys/ca.pem" --work "$scratch/work" --out "$out" \
  >"$scratch/report.txt" 2>&1 || { cat "$scratch/report.txt"; echo "FAIL: the release run failed"; exit 1; }
cat "$scratch/report.txt"
demo=$scratch/work/payload/demo
grep -q "^payload         DEMO stand-ins" "$scratch/report.txt" || fail "the report does not say DEMO"
for name in WebView2Loader.dll Quillmart.exe; do
  grep -Eq "^$name +$(wc -c <"$demo/$name") +[0-9]+ +[0-9.]+%  $(sha256sum "$demo/$name" | cut -d' ' -f1)$" \
    "$scratch/report.txt" || fail "the report's line for $name is wrong"
done
grep -q "^signed sha256   $(sha256sum "$out" | cut -d' ' -f1)$" "$scratch/report.txt" || fail "wrong signed SHA-256"
grep -q "^release check   payload intact$" "$scratch/report.txt" || fail "the report lacks the release check"
osslsigncode verify -CAfile "$keys/ca.pem" -in "$out" >/dev/null 2>&1 || fail "the output does not verify"

# Installed and started under Wine like a download: the signature must not have moved or hidden the streams.
target=$scratch/LocalAppData/Programs/Quillmart
mkdir -p "$scratch/LocalAppData"
"$source_dir/tests/harness/wine-run" "$QMT_WINE_STATE" "$boxctl" run \
  --set "LOCALAPPDATA=$(winpath "$scratch/LocalAppData")" --unset QMT_DATA \
  --set "QMT_DEMO_REPORT=$(winpath "$scratch/app-report.txt")" --timeout 60000 -- "$(winpath "$out")" signed \
  >"$scratch/runner.txt" 2>&1
tr -d '\r' <"$scratch/runner.txt" | grep -qx "exit 0" ||
  fail "the signed setup did not exit with 0: $(cat "$scratch/runner.txt")"
for name in WebView2Loader.dll Quillmart.exe; do
  cmp -s "$demo/$name" "$target/$name" || fail "$name was not installed byte for byte"
done
for _ in $(seq 100); do [ -s "$scratch/app-report.txt" ] && break; sleep 0.1; done
[ -s "$scratch/app-report.txt" ] || fail "the installed application did not start"

finish "release run: all checks passed"
